#include "conf/settings.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "conf/set_conf.h"

const char* const Params[4] = {"ink", "resolution", "mediasize", "papersource"};
const int32_t Param_Num = 4;
static_assert(sizeof(Params) / sizeof(Params[0]) == 4);

namespace {

// The whitespace of the POSIX locale, whatever locale the filter runs in.
bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a settings file in pieces, counting the file's own lines.
struct PieceReader {
  FILE* file;
  int line;         // the line of the last piece read
  bool line_ended;  // whether that piece ended its line
};

// Reads the next piece of a line into `piece` with its whitespace removed.
// Returns false at the end of the file or on a read error.
// REQUIRES: `piece` holds PIECE_SIZE bytes.
bool read_piece(PieceReader* reader, char* piece) {
  // A NUL byte read from the file ends the piece's text early, so the piece's
  // end is found from the terminator fgets writes: the last NUL, the bytes
  // after it being untouched.
  std::memset(piece, '\n', PIECE_SIZE);
  if (std::fgets(piece, PIECE_SIZE, reader->file) == nullptr) return false;
  if (reader->line_ended && reader->line < INT_MAX) ++reader->line;
  size_t end = PIECE_SIZE - 1;
  while (end > 0 && piece[end] != '\0') --end;
  reader->line_ended = end > 0 && piece[end - 1] == '\n';
  strip_space(piece);
  return true;
}

// Whether a section header names this printer: its name is not empty and is
// a leading part of the model name without blanks. `header` starts with '['.
bool names_this_printer(const char* header, const char* model) {
  const char* name = header + 1;
  const size_t length = std::strcspn(name, "]");
  return length > 0 && length <= std::strlen(model) && std::strncmp(name, model, length) == 0;
}

// The leading decimal integer of `text`, with an optional sign, saturating at
// the 32-bit limits; 0 when there are no leading digits.
int32_t parse_resolution(const char* text) {
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT32_MAX) return negative ? INT32_MIN : INT32_MAX;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// Copies `value` into a FIELD_SIZE field. A value too long for the field is
// not copied; false says so.
bool copy_field(char* field, const char* value) {
  const size_t length = std::strlen(value);
  if (length >= FIELD_SIZE) return false;
  std::memcpy(field, value, length + 1);
  return true;
}

int find_param(const char* key) {
  for (int i = 0; i < Param_Num; ++i) {
    if (std::strcmp(key, Params[i]) == 0) return i;
  }
  return -1;
}

// seek_model_section over `reader`. Leaves in `piece` the header found, or
// the piece that made the file malformed.
// REQUIRES: `piece` holds LINE_SCRATCH_SIZE bytes.
int seek_section(PieceReader* reader, char* piece) {
  char model[LINE_SCRATCH_SIZE];
  std::memcpy(model, MODEL_NAME, sizeof(MODEL_NAME));
  strip_space(model);

  bool header_seen = false;
  while (read_piece(reader, piece)) {
    if (piece[0] == '\0') continue;
    if (piece[0] != '[') {
      if (!header_seen) return -1;
      continue;
    }
    header_seen = true;
    if (piece[1] == '\0') return -1;
    // A header with nothing between its brackets names no printer.
    if (names_this_printer(piece, model)) return reader->line;
  }
  return 0;
}

// The key each validation fault is about.
int key_of(ConfFault fault) {
  switch (fault) {
    case CONF_BAD_INK:
      return PARAM_INK;
    case CONF_BAD_RESOLUTION:
    case CONF_PAGE_TOO_LARGE:
      return PARAM_RESOLUTION;
    case CONF_NO_MEDIA:
    case CONF_SIZE_NOT_IN_SOURCE:
      return PARAM_MEDIASIZE;
    case CONF_UNKNOWN_SOURCE:
      return PARAM_PAPERSOURCE;
    default:
      return -1;
  }
}

// Ends a reading that failed, closing `file` if it is open. Given a
// diagnosis, records the fault and writes nothing; otherwise writes what the
// filter writes: nothing when there is no section, else "ravorc not read".
int refuse(FILE* file, ConfDiagnosis* diagnosis, ConfFault fault, int line, int key) {
  if (diagnosis == nullptr) {
    if (fault != CONF_NO_SECTION) return conf_error(file);
    static_cast<void>(std::fclose(file));
    return 1;
  }
  if (file != nullptr) static_cast<void>(std::fclose(file));
  diagnosis->fault = fault;
  diagnosis->line = line;
  diagnosis->key = key;
  return 1;
}

// The line that last set `key`, when there is a diagnosis to say so.
int setting_line(const ConfDiagnosis* diagnosis, int key) {
  return diagnosis == nullptr || key < 0 ? 0 : diagnosis->settings[key].line;
}

void copy_text(char* to, const char* piece) { std::memcpy(to, piece, std::strlen(piece) + 1); }

}  // namespace

char* strip_space(char* text) {
  char* kept = text;
  for (const char* c = text; *c != '\0'; ++c) {
    if (!is_space(static_cast<unsigned char>(*c))) *kept++ = *c;
  }
  *kept = '\0';
  return text;
}

int conf_error(FILE* file) {
  // Nothing is lost when closing a file only read fails, and a message that
  // cannot be written has nowhere else to go.
  if (file != nullptr) static_cast<void>(std::fclose(file));
  static_cast<void>(std::fputs("ravorc not read\n", stderr));
  return 1;
}

int seek_model_section(FILE* file) {
  PieceReader reader{file, 0, true};
  char piece[LINE_SCRATCH_SIZE];
  return seek_section(&reader, piece);
}

int read_conf(Conf* conf) { return read_conf_file(SETTINGS_PATH, conf); }

int read_conf_file(const char* path, Conf* conf, ConfDiagnosis* diagnosis) {
  if (diagnosis != nullptr) *diagnosis = ConfDiagnosis{CONF_USABLE, 0, -1, 0, 0, "", {}};
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    if (diagnosis == nullptr) {
      static_cast<void>(std::fprintf(stderr, "%s : No such file\n", path));
    } else {
      diagnosis->fault = CONF_CANNOT_OPEN;
      diagnosis->error = errno;
    }
    return 1;
  }
  // The stream reads through this frame's buffer rather than one from the
  // heap; every path below closes the file before returning.
  char stream_buffer[STREAM_BUFFER_SIZE];
  static_cast<void>(std::setvbuf(file, stream_buffer, _IOFBF, sizeof stream_buffer));
  PieceReader reader{file, 0, true};
  char piece[LINE_SCRATCH_SIZE];
  const int header = seek_section(&reader, piece);
  if (diagnosis != nullptr) {
    if (std::ferror(file) != 0) diagnosis->error = errno;
    if (header != 0) copy_text(diagnosis->text, piece);
    if (header > 0) diagnosis->header_line = reader.line;
  }
  if (header == 0) return refuse(file, diagnosis, CONF_NO_SECTION, 0, -1);
  if (header < 0) {
    const ConfFault fault = piece[0] == '[' ? CONF_BARE_BRACKET : CONF_TEXT_BEFORE_HEADER;
    return refuse(file, diagnosis, fault, reader.line, -1);
  }

  int32_t ink = 0;
  int32_t resolution = 0;
  char media[FIELD_SIZE] = "";
  char source[FIELD_SIZE] = "AUTO";
  bool media_fits = true;
  bool source_fits = true;

  while (read_piece(&reader, piece)) {
    if (piece[0] == '\0') continue;
    if (piece[0] == '[') break;
    if (piece[0] == '=') {
      if (diagnosis != nullptr) copy_text(diagnosis->text, piece);
      return refuse(file, diagnosis, CONF_EMPTY_KEY, reader.line, -1);
    }
    char* equals = std::strchr(piece, '=');
    if (equals != nullptr) *equals = '\0';
    const int param = find_param(piece);
    if (param < 0) continue;
    if (equals == nullptr || equals[1] == '\0') {
      return refuse(file, diagnosis, CONF_NO_VALUE, reader.line, param);
    }
    const char* value = equals + 1;
    switch (param) {
      case PARAM_INK:
        ink = std::strcmp(value, "MONO") == 0 ? INK_MONO : INK_COLOUR;
        break;
      case PARAM_RESOLUTION:
        resolution = parse_resolution(value);
        break;
      case PARAM_MEDIASIZE:
        media_fits = copy_field(media, value);
        break;
      case PARAM_PAPERSOURCE:
        source_fits = copy_field(source, value);
        break;
    }
    if (diagnosis != nullptr) {
      diagnosis->settings[param].line = reader.line;
      copy_text(diagnosis->settings[param].value, value);
    }
  }
  if (diagnosis != nullptr && std::ferror(file) != 0) diagnosis->error = errno;
  static_cast<void>(std::fclose(file));

  // A value too long for its field names no size or source: refuse it.
  if (!media_fits || !source_fits) {
    const int key = media_fits ? PARAM_PAPERSOURCE : PARAM_MEDIASIZE;
    return refuse(nullptr, diagnosis, CONF_VALUE_TOO_LONG, setting_line(diagnosis, key), key);
  }
  if (conf == nullptr) return conf_error(nullptr);  // nothing to fill
  const ConfFault fault = fill_conf(conf, ink, resolution, media, source);
  if (fault != CONF_USABLE) {
    const int key = key_of(fault);
    return refuse(nullptr, diagnosis, fault, setting_line(diagnosis, key), key);
  }
  return 0;
}
