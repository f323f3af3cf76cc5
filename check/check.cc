#include "check/check.h"

#include <cerrno>
#include <cstring>

#include "conf/set_conf.h"
#include "conf/settings.h"
#include "filter/filter.h"
#include "filter/rasterise.h"
#include "paper/catalogue.h"
#include "paper/paper.h"

// The report is written piece by piece; a failed write shows in the stream's
// error flag, which check_main reads when it closes standard output.
// NOLINTBEGIN(cert-err33-c)

namespace {

constexpr char SECTION_EXAMPLE[] = "[Marven Jetto 412_519]";

// The value that last set `key`, or null when no line did.
const char* setting(const ConfDiagnosis& diagnosis, int key) {
  return diagnosis.settings[key].line > 0 ? diagnosis.settings[key].value : nullptr;
}

const char* source_of(const ConfDiagnosis& diagnosis) {
  const char* source = setting(diagnosis, PARAM_PAPERSOURCE);
  return source != nullptr ? source : "AUTO";
}

void list_sizes(FILE* to, const PaperConf* table) {
  for (const PaperConf* row = table; row->name != nullptr; ++row) {
    std::fprintf(to, "%s%s", row == table ? "" : ", ", row->name);
  }
}

void list_sources(FILE* to) {
  std::fputs("the paper sources are ", to);
  for (int i = 0; i < Bin_Num; ++i) std::fprintf(to, "%s%s", i == 0 ? "" : ", ", Bins[i]);
}

// What `key` accepts, to end a reason.
void write_accepted(FILE* to, int key, const char* source) {
  switch (key) {
    case PARAM_INK:
      std::fputs("ink takes MONO for 8-bit grey, or COLOR (or any other word) for 24-bit colour",
                 to);
      break;
    case PARAM_RESOLUTION:
      std::fputs("resolution takes a positive whole number of dots per inch, such as 360", to);
      break;
    case PARAM_MEDIASIZE: {
      const PaperConf* table = paper_table(source);
      if (table == nullptr || table->name == nullptr) {
        list_sources(to);
      } else {
        std::fprintf(to, "paper source %s has ", source);
        list_sizes(to, table);
      }
      break;
    }
    default:
      list_sources(to);
      break;
  }
}

// Writes why the file is unusable, after "PATH:LINE: " or "PATH: ".
void write_reason(FILE* err, const char* path, const ConfDiagnosis& diagnosis) {
  const char* source = source_of(diagnosis);
  int line = diagnosis.line;
  const int key = diagnosis.key;
  const char* value = key >= 0 ? diagnosis.settings[key].value : "";
  const PaperConf* table = paper_table(source);
  const bool empty_source = diagnosis.fault == CONF_SIZE_NOT_IN_SOURCE && table->name == nullptr;
  if (empty_source) line = diagnosis.settings[PARAM_PAPERSOURCE].line;
  std::fprintf(err, line > 0 ? "%s:%d: " : "%s: ", path, line);

  switch (diagnosis.fault) {
    case CONF_CANNOT_OPEN:
      std::fprintf(err, "cannot be opened: %s", std::strerror(diagnosis.error));
      break;
    case CONF_NO_SECTION:
      if (diagnosis.error != 0) {
        std::fprintf(err, "cannot be read: %s", std::strerror(diagnosis.error));
      } else {
        std::fprintf(err,
                     "no section for the %s; its header names the model or a leading part of "
                     "it, such as %s",
                     MODEL_NAME, SECTION_EXAMPLE);
      }
      break;
    case CONF_TEXT_BEFORE_HEADER:
      std::fprintf(err,
                   "\"%s\" stands before the first section header; the file must begin with "
                   "one, such as %s",
                   diagnosis.text, SECTION_EXAMPLE);
      break;
    case CONF_BARE_BRACKET:
      std::fprintf(err, "\"[\" is a section header without a name; this printer's is %s",
                   SECTION_EXAMPLE);
      break;
    case CONF_EMPTY_KEY:
      std::fprintf(err,
                   "\"%s\" has no key before \"=\"; the keys are ink, resolution, mediasize "
                   "and papersource",
                   diagnosis.text);
      break;
    case CONF_NO_VALUE:
      std::fprintf(err, "%s has no value; ", Params[key]);
      write_accepted(err, key, source);
      break;
    case CONF_VALUE_TOO_LONG:
      std::fprintf(err, "%s %s is too long to be a name; ", Params[key], value);
      write_accepted(err, key, source);
      break;
    case CONF_BAD_RESOLUTION:
      if (line > 0) {
        std::fprintf(err, "resolution %s is not a positive number; ", value);
      } else {
        std::fputs("resolution is not set; ", err);
      }
      write_accepted(err, key, source);
      break;
    case CONF_BAD_INK:
    case CONF_NO_MEDIA:
      std::fprintf(err, "%s is not set; ", Params[key]);
      write_accepted(err, key, source);
      break;
    case CONF_UNKNOWN_SOURCE:
      std::fprintf(err, "papersource %s is not a paper source; ", source);
      list_sources(err);
      break;
    case CONF_SIZE_NOT_IN_SOURCE:
      if (empty_source) {
        std::fprintf(err, "paper source %s has no paper sizes; ", source);
        list_sources(err);
      } else {
        std::fprintf(err, "mediasize %s is not a size of paper source %s; ", value, source);
        write_accepted(err, key, source);
      }
      break;
    case CONF_PAGE_TOO_LARGE: {
      const PaperConf* row = call_paper_conf(source, setting(diagnosis, PARAM_MEDIASIZE));
      const int32_t longest = row->width > row->height ? row->width : row->height;
      std::fprintf(err,
                   "resolution %s makes the %s page too large to count in pixels; it takes at "
                   "most %d dots per inch",
                   value, row->name, INT32_MAX / longest);
      break;
    }
    case CONF_USABLE:
      break;
  }
  std::fputc('\n', err);
}

// Writes what the filter does with a file it cannot use.
void write_fallback(FILE* err, ConfFault fault) {
  std::fprintf(err,
               "ravofilter will rasterise with its defaults, %d dpi, %d x %d pixels (A4) in %s, ",
               Def_Conf.resolution, Def_Conf.width, Def_Conf.height,
               Def_Conf.ink == INK_MONO ? "8-bit grey" : "24-bit colour");
  if (fault == CONF_CANNOT_OPEN) {
    std::fprintf(err, "after writing \"%s : No such file\"\n", SETTINGS_PATH);
  } else if (fault == CONF_NO_SECTION) {
    std::fputs("without writing a message\n", err);
  } else {
    std::fputs("after writing \"ravorc not read\"\n", err);
  }
}

void write_usable(FILE* out, const char* path, const ConfDiagnosis& diagnosis, const Conf& conf) {
  std::fprintf(out, "%s:%d: section %s\n", path, diagnosis.header_line, diagnosis.text);
  for (int key = PARAM_INK; key <= PARAM_PAPERSOURCE; ++key) {
    const ConfSetting& set = diagnosis.settings[key];
    if (set.line > 0) {
      std::fprintf(out, "%s:%d: %s=%s", path, set.line, Params[key], set.value);
    } else {
      std::fprintf(out, "%s: %s=AUTO, not set", path, Params[key]);
    }
    if (key == PARAM_INK)
      std::fputs(conf.ink == INK_MONO ? ": 8-bit grey" : ": 24-bit colour", out);
    std::fputc('\n', out);
  }
  std::fprintf(out, "raster: %d x %d pixels at %d dpi\n", conf.width, conf.height, conf.resolution);
  char command[COMMAND_SIZE];
  format_gs_command(conf, command);
  std::fprintf(out, "command: %s\n", command);
}

}  // namespace

int check_settings(const char* path, FILE* out, FILE* err, Conf* conf) {
  ConfDiagnosis diagnosis;
  if (read_conf_file(path, conf, &diagnosis) == 0) {
    write_usable(out, path, diagnosis, *conf);
    return 0;
  }
  write_reason(err, path, diagnosis);
  write_fallback(err, diagnosis.fault);
  return 1;
}

int check_main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
    std::fputs("usage: ravocheck [FILE]\n", stderr);
    return 2;
  }
  Conf conf;
  int status = check_settings(argc == 2 ? argv[1] : SETTINGS_PATH, stdout, stderr, &conf);
  if ((std::ferror(stdout) != 0 || std::fclose(stdout) != 0) && status == 0) {
    std::fprintf(stderr, "ravocheck: writing standard output : %s\n", std::strerror(errno));
    status = 1;
  }
  return status;
}

// NOLINTEND(cert-err33-c)
