#include "app/media_page.h"

#include <cstdio>
#include <cstring>

#include "app/media.h"
#include "app/printer_pages.h"
#include "paper/paper.h"
#include "paper/size_names.h"

namespace {

constexpr char BORDERLESS_SUFFIX[] = " borderless";

// What the page calls each source.
struct SourceLabel {
  const char* ipp;
  const char* text;
};

constexpr SourceLabel SOURCE_LABELS[] = {
    {SOURCE_AUTO, "Sheet feeder"},
    {SOURCE_ROLL, "Roll paper"},
};

const char* source_label(const char* ipp_source) {
  for (const SourceLabel& label : SOURCE_LABELS) {
    if (std::strcmp(label.ipp, ipp_source) == 0) return label.text;
  }
  return ipp_source;
}

bool add_choice(const PaperConf& row, bool borderless, ReadyChoice* choices, size_t capacity,
                size_t* count) {
  const SizeName* name = find_size_name(row.name);
  if (name == nullptr) return false;
  if (*count < capacity) choices[(*count)++] = {name->pwg, name->text, borderless};
  return true;
}

bool has_keyword(const PaperConf* table, const char* keyword) {
  for (; table != nullptr && table->name != nullptr; ++table) {
    if (std::strcmp(table->name, keyword) == 0) return true;
  }
  return false;
}

// The attribute's first value as text; "" for one that holds none, such as
// an integer where a keyword belongs.
const char* text_of(ipp_attribute_t* attribute) {
  const char* text = ippGetString(attribute, 0, nullptr);
  return text != nullptr ? text : "";
}

// Turns a media-col-ready value into the media it loads, the way PAPPL
// reads it: over what the slot holds now, the size by name or by its
// dimensions.
pappl_media_col_t apply_media_col(ipp_t* value, pappl_media_col_t col) {
  ipp_attribute_t* size_name = ippFindAttribute(value, "media-size-name", IPP_TAG_ZERO);
  ipp_attribute_t* width = ippFindAttribute(value, "media-size/x-dimension", IPP_TAG_INTEGER);
  ipp_attribute_t* length = ippFindAttribute(value, "media-size/y-dimension", IPP_TAG_INTEGER);
  if (size_name != nullptr) {
    papplCopyString(col.size_name, text_of(size_name), sizeof col.size_name);
    const pwg_media_t* media = pwgMediaForPWG(col.size_name);
    col.size_width = media != nullptr ? media->width : 0;
    col.size_length = media != nullptr ? media->length : 0;
  } else if (width != nullptr && length != nullptr) {
    const pwg_media_t* media = pwgMediaForSize(ippGetInteger(width, 0), ippGetInteger(length, 0));
    papplCopyString(col.size_name, media != nullptr ? media->pwg : "", sizeof col.size_name);
    col.size_width = ippGetInteger(width, 0);
    col.size_length = ippGetInteger(length, 0);
  }
  const struct {
    const char* name;
    int* field;
  } margins[] = {{"media-bottom-margin", &col.bottom_margin},
                 {"media-left-margin", &col.left_margin},
                 {"media-right-margin", &col.right_margin},
                 {"media-top-margin", &col.top_margin}};
  for (const auto& margin : margins) {
    if (ipp_attribute_t* given = ippFindAttribute(value, margin.name, IPP_TAG_INTEGER)) {
      *margin.field = ippGetInteger(given, 0);
    }
  }
  if (ipp_attribute_t* source = ippFindAttribute(value, "media-source", IPP_TAG_ZERO)) {
    papplCopyString(col.source, text_of(source), sizeof col.source);
  }
  return col;
}

// Whether `col` is a source's loaded media that its table cannot feed.
bool unfeedable(const pappl_media_col_t& col, char* message, size_t message_size) {
  if (col.source[0] == '\0' || col.size_name[0] == '\0') return false;  // PAPPL's own to judge
  if (resolve_media(col).row != nullptr) return false;
  describe_unfeedable(col, message, message_size);
  return true;
}

// The slot of the printer's ready media that `source` fills.
int ready_slot(const pappl_pr_driver_data_t& data, int source) {
  for (int slot = 0; slot < data.num_source; ++slot) {
    if (std::strcmp(data.media_ready[slot].source, data.source[source]) == 0) return slot;
  }
  return source;
}

// Loads, in each source the form names, what it chose. False, with
// `message` saying why, when a choice is not one of the source's.
bool load_choices(pappl_printer_t* printer, const pappl_pr_driver_data_t& data, int count,
                  cups_option_t* form, char* message, size_t message_size) {
  pappl_media_col_t ready[PAPPL_MAX_SOURCE];
  std::memcpy(ready, data.media_ready, sizeof ready);
  for (int i = 0; i < data.num_source; ++i) {
    const char* value = cupsGetOption(data.source[i], count, form);
    if (value == nullptr) continue;
    char pwg[sizeof ready[0].size_name];
    bool borderless = false;
    if (!parse_ready_choice(value, pwg, sizeof pwg, &borderless)) {
      static_cast<void>(
          std::snprintf(message, message_size, "\"%s\" is no size for %s.", value, data.source[i]));
      return false;
    }
    const int slot = ready_slot(data, i);
    pappl_media_col_t col;
    if (!ready_media_for(data.source[i], pwg, borderless, &col, message, message_size)) {
      return false;
    }
    papplCopyString(col.type, ready[slot].type[0] != '\0' ? ready[slot].type : data.type[0],
                    sizeof col.type);
    ready[slot] = col;
  }
  if (!papplPrinterSetReadyMedia(printer, data.num_source, ready)) {
    papplCopyString(message, "The printer did not take these media.", message_size);
    return false;
  }
  papplCopyString(message, "Changes saved.", message_size);
  return true;
}

// Reads and loads a posted form. False, with `message` saying why, when it is
// refused.
bool load_form(pappl_client_t* client, pappl_printer_t* printer, char* message,
               size_t message_size) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  bool loaded = false;
  if (count == 0) {
    papplCopyString(message, "Invalid form data.", message_size);
  } else if (!papplClientIsValidForm(client, count, form)) {
    papplCopyString(message, "Invalid form submission.", message_size);
  } else {
    loaded = load_choices(printer, data, count, form, message, message_size);
  }
  cupsFreeOptions(count, form);
  return loaded;
}

bool is_loaded(const ReadyChoice& choice, const pappl_media_col_t& loaded) {
  return std::strcmp(choice.pwg, loaded.size_name) == 0 &&
         choice.borderless == is_borderless(loaded);
}

// The form: for each source, a choice of what it can hold, the loaded media
// chosen. Loaded media the source cannot hold stand first, and unsendable,
// so that saving other sources keeps them.
void show_sources(pappl_client_t* client, const pappl_pr_driver_data_t& data) {
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPuts(client,
                      "          <table class=\"form\">\n"
                      "            <tbody>\n");
  for (int i = 0; i < data.num_source; ++i) {
    const char* source = data.source[i];
    const pappl_media_col_t& loaded = data.media_ready[ready_slot(data, i)];
    ReadyChoice choices[2 * MAX_SIZES];
    const size_t count = ready_choices(source, choices, 2 * MAX_SIZES);
    papplClientHTMLPrintf(client, "              <tr><th>%s (%s):</th><td><select name=\"%s\">",
                          source_label(source), source, source);
    bool offered = false;
    for (size_t c = 0; c < count; ++c) offered = offered || is_loaded(choices[c], loaded);
    if (!offered) {
      papplClientHTMLPrintf(client, "<option value=\"\" selected disabled>%s</option>",
                            loaded.size_name[0] != '\0' ? loaded.size_name : "Nothing loaded");
    }
    for (size_t c = 0; c < count; ++c) {
      char value[sizeof loaded.size_name + sizeof BORDERLESS_SUFFIX];
      format_ready_choice(choices[c], value, sizeof value);
      papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s (%s)%s</option>", value,
                            is_loaded(choices[c], loaded) ? " selected" : "", choices[c].text,
                            choices[c].pwg, choices[c].borderless ? ", borderless" : "");
    }
    papplClientHTMLPuts(client, "</select></td></tr>\n");
  }
  papplClientHTMLPuts(client,
                      "              <tr><th></th><td><input type=\"submit\" "
                      "value=\"Save Changes\"></td></tr>\n"
                      "            </tbody>\n"
                      "          </table>\n"
                      "        </form>\n");
}

// PAPPL's printer header always answers 200; a refused form answers 400 with
// the same page.
void refused_header(pappl_client_t* client, pappl_printer_t* printer) {
  if (!papplClientRespond(client, HTTP_STATUS_BAD_REQUEST, nullptr, "text/html", 0, 0)) return;
  char title[300];
  static_cast<void>(std::snprintf(title, sizeof title, "Media - %s", papplPrinterGetName(printer)));
  papplClientHTMLHeader(client, title, 0);
  char path[256];
  papplPrinterGetPath(printer, nullptr, path, sizeof path);
  papplClientHTMLPrintf(client,
                        "    <div class=\"header2\">\n"
                        "      <div class=\"row\">\n"
                        "        <div class=\"col-12 nav\"><a class=\"btn\" href=\"%s\">%s:</a>"
                        "</div>\n"
                        "      </div>\n"
                        "    </div>\n"
                        "    <div class=\"content\">\n"
                        "      <div class=\"row\">\n"
                        "        <div class=\"col-12\">\n"
                        "          <h1 class=\"title\">Media</h1>\n",
                        path, papplPrinterGetName(printer));
}

bool media_page(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  char message[1024] = "";
  bool refused = false;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    refused = !load_form(client, printer, message, sizeof message);
  }
  if (refused) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Media refused: %s", message);
    refused_header(client, printer);
  } else {
    papplClientHTMLPrinterHeader(client, printer, "Media", 0, nullptr, nullptr);
  }
  if (message[0] != '\0') {
    papplClientHTMLPrintf(client, "          <div class=\"banner\">%s</div>\n", message);
  }
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  show_sources(client, driver);
  papplClientHTMLPrinterFooter(client);
  return true;
}

}  // namespace

size_t ready_choices(const char* ipp_source, ReadyChoice* choices, size_t capacity) {
  const char* with_margins = table_source(ipp_source, false);
  const char* without = table_source(ipp_source, true);
  if (with_margins == nullptr) return 0;
  const PaperConf* borderless = without != nullptr ? paper_table(without) : nullptr;
  size_t count = 0;
  for (const PaperConf* row = paper_table(with_margins); row->name != nullptr; ++row) {
    if (add_choice(*row, false, choices, capacity, &count) && has_keyword(borderless, row->name)) {
      add_choice(*row, true, choices, capacity, &count);
    }
  }
  for (const PaperConf* row = borderless; row != nullptr && row->name != nullptr; ++row) {
    if (!has_keyword(paper_table(with_margins), row->name)) {
      add_choice(*row, true, choices, capacity, &count);
    }
  }
  return count;
}

void format_ready_choice(const ReadyChoice& choice, char* value, size_t size) {
  static_cast<void>(
      std::snprintf(value, size, "%s%s", choice.pwg, choice.borderless ? BORDERLESS_SUFFIX : ""));
}

bool parse_ready_choice(const char* value, char* pwg, size_t pwg_size, bool* borderless) {
  if (value == nullptr || pwg_size == 0) return false;
  const char* space = std::strchr(value, ' ');
  const size_t length = space != nullptr ? static_cast<size_t>(space - value) : std::strlen(value);
  if (length == 0 || length >= pwg_size) return false;
  if (space != nullptr && std::strcmp(space, BORDERLESS_SUFFIX) != 0) return false;
  std::memcpy(pwg, value, length);
  pwg[length] = '\0';
  *borderless = space != nullptr;
  return true;
}

bool ready_media_for(const char* ipp_source, const char* pwg, bool borderless,
                     pappl_media_col_t* col, char* message, size_t message_size) {
  const char* table = table_source(ipp_source, borderless);
  const PaperConf* row = table != nullptr ? find_pwg_size(table, pwg) : nullptr;
  if (row != nullptr && fill_media_col(*row, ipp_source, borderless, col)) return true;
  pappl_media_col_t wanted{};
  papplCopyString(wanted.size_name, pwg, sizeof wanted.size_name);
  papplCopyString(wanted.source, ipp_source, sizeof wanted.source);
  if (!borderless) wanted.left_margin = 1;
  describe_unfeedable(wanted, message, message_size);
  return false;
}

bool feedable_ready_attribute(ipp_attribute_t* attr, const pappl_media_col_t* current, size_t count,
                              char* message, size_t message_size) {
  const char* name = ippGetName(attr);
  if (name == nullptr) return true;
  const bool keywords = std::strcmp(name, "media-ready") == 0;
  const bool collections = std::strcmp(name, "media-col-ready") == 0;
  if (!keywords && !collections) return true;
  for (int i = 0; i < ippGetCount(attr); ++i) {
    pappl_media_col_t col = static_cast<size_t>(i) < count ? current[i] : pappl_media_col_t{};
    if (keywords) {
      const char* value = ippGetString(attr, i, nullptr);
      if (value == nullptr) continue;
      const pwg_media_t* media = pwgMediaForPWG(value);
      papplCopyString(col.size_name, value, sizeof col.size_name);
      col.size_width = media != nullptr ? media->width : 0;
      col.size_length = media != nullptr ? media->length : 0;
    } else {
      ipp_t* value = ippGetCollection(attr, i);
      if (value == nullptr) continue;
      col = apply_media_col(value, col);
    }
    if (unfeedable(col, message, message_size)) return false;
  }
  return true;
}

void refuse_unfeedable_ready_media(pappl_client_t* client) {
  ipp_t* request = papplClientGetRequest(client);
  pappl_printer_t* printer = papplClientGetPrinter(client);
  if (request == nullptr || printer == nullptr ||
      papplClientGetOperation(client) != IPP_OP_SET_PRINTER_ATTRIBUTES) {
    return;
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  char message[1024] = "";
  ipp_attribute_t* refused[8];
  size_t count = 0;
  for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr;
       attr = ippNextAttribute(request)) {
    if (count < sizeof refused / sizeof refused[0] && ippGetGroupTag(attr) == IPP_TAG_PRINTER &&
        !feedable_ready_attribute(attr, data.media_ready, PAPPL_MAX_SOURCE, message,
                                  sizeof message)) {
      refused[count++] = attr;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    papplClientRespondIPPUnsupported(client, refused[i]);
    // PAPPL reads every attribute before it looks at the status, and an
    // unknown size name in media-col-ready would crash it.
    ippDeleteAttribute(request, refused[i]);
  }
  if (count > 0)
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", message);
}

void install_media_page(pappl_system_t* system) {
  replace_printer_pages(system, "media", media_page);
}
