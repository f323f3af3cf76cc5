// What each source of the printer holds: the page at /<printer>/media and
// the IPP attributes media-ready and media-col-ready. Each source offers
// exactly the sizes of its own tables (the sheet feeder AUTO and TAUTO, the
// roll ROLL and TROLL), named as the tables name them, with the borderless
// choice where the borderless table has the size. A size that a source's
// table lacks is refused, on the page and in Set-Printer-Attributes.

#ifndef RAVO_APP_MEDIA_PAGE_H_
#define RAVO_APP_MEDIA_PAGE_H_

#include <pappl/pappl.h>

#include <cstddef>

// One size a source can hold, with or without margins.
struct ReadyChoice {
  const char* pwg;   // "na_invoice_5.5x8.5in"
  const char* text;  // "Half Letter"
  bool borderless;
};

// Fills `choices` with what `ipp_source` can hold, in table order: each size
// of its table with margins, followed by the same size without margins where
// the borderless table has it, then sizes only the borderless table has.
// Returns how many (at most `capacity`); none for a source the printer lacks.
size_t ready_choices(const char* ipp_source, ReadyChoice* choices, size_t capacity);

// The value a form sends for a choice: its PWG name, then " borderless" for
// one without margins.
void format_ready_choice(const ReadyChoice& choice, char* value, size_t size);

// Splits a form's value into PWG name and margins. False when it is empty,
// has an unknown suffix, or the name does not fit.
bool parse_ready_choice(const char* value, char* pwg, size_t pwg_size, bool* borderless);

// Fills `col` with size `pwg`, with or without margins, loaded in
// `ipp_source`, as its table has it. False when the table lacks the size or
// the source is unknown; `message` then says why.
bool ready_media_for(const char* ipp_source, const char* pwg, bool borderless,
                     pappl_media_col_t* col, char* message, size_t message_size);

// Whether a Set-Printer-Attributes attribute loads only sizes its sources can
// feed: "media-ready" value i is loaded in the source of `current[i]` with
// its margins, "media-col-ready" value i changes `current[i]` as far as it
// goes. Other attributes, and values for a slot without source or size, pass.
// False with `message` saying why otherwise.
bool feedable_ready_attribute(ipp_attribute_t* attr, const pappl_media_col_t* current, size_t count,
                              char* message, size_t message_size);

// Refuses the client's Set-Printer-Attributes, before PAPPL applies it, when
// it loads a size a source cannot feed: client-error-attributes-or-values-
// not-supported, and the attribute goes unused. Call it once the client is
// known to be allowed; other requests are left alone.
void refuse_unfeedable_ready_media(pappl_client_t* client);

// Replaces each printer's media page by ravo's, for printers present and to
// come. Call it from the system callback.
void install_media_page(pappl_system_t* system);

#endif  // RAVO_APP_MEDIA_PAGE_H_
