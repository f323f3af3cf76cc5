#include "check/check.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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
constexpr char USAGE[] =
    "usage: ravocheck [FILE]\n"
    "Checks the settings file FILE (by default /etc/ravorc) as ravofilter reads it.\n"
    "Exit status: 0 usable, 1 not usable by ravofilter, 2 wrong arguments.\n";

// Text from the file with its control bytes escaped, so that none reaches a
// terminal raw.
struct Shown {
  char text[4 * PIECE_SIZE];
};

Shown shown(const char* raw) {
  Shown result;
  char* to = result.text;
  for (const char* from = raw; *from != '\0'; ++from) {
    const auto c = static_cast<unsigned char>(*from);
    if (c == 0x1b) {
      to = std::strcpy(to, "\\033") + 4;
    } else if (c == '\a') {
      to = std::strcpy(to, "\\a") + 2;
    } else if (c < 0x20 || c == 0x7f) {
      to += std::snprintf(to, 5, "\\x%02x", c);
    } else {
      *to++ = *from;
    }
  }
  *to = '\0';
  return result;
}

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
        std::fprintf(to, "paper source %s has ", shown(source).text);
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
                   shown(diagnosis.text).text, SECTION_EXAMPLE);
      break;
    case CONF_BARE_BRACKET:
      std::fprintf(err, "\"[\" is a section header without a name; this printer's is %s",
                   SECTION_EXAMPLE);
      break;
    case CONF_EMPTY_KEY:
      std::fprintf(err,
                   "\"%s\" has no key before \"=\"; the keys are ink, resolution, mediasize "
                   "and papersource",
                   shown(diagnosis.text).text);
      break;
    case CONF_NO_VALUE:
      std::fprintf(err, "%s has no value; ", Params[key]);
      write_accepted(err, key, source);
      break;
    case CONF_VALUE_TOO_LONG:
      std::fprintf(err, "%s %s is too long to be a name; ", Params[key], shown(value).text);
      write_accepted(err, key, source);
      break;
    case CONF_BAD_RESOLUTION:
      if (line > 0) {
        std::fprintf(err, "resolution %s is not a positive number; ", shown(value).text);
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
      std::fprintf(err, "papersource %s is not a paper source; ", shown(source).text);
      list_sources(err);
      break;
    case CONF_SIZE_NOT_IN_SOURCE:
      if (empty_source) {
        std::fprintf(err, "paper source %s has no paper sizes; ", shown(source).text);
        list_sources(err);
      } else {
        std::fprintf(err, "mediasize %s is not a size of paper source %s; ", shown(value).text,
                     shown(source).text);
        write_accepted(err, key, source);
      }
      break;
    case CONF_PAGE_TOO_LARGE: {
      const PaperConf* row = call_paper_conf(source, setting(diagnosis, PARAM_MEDIASIZE));
      const int32_t longest = row->width > row->height ? row->width : row->height;
      std::fprintf(err,
                   "resolution %s makes the %s page too large to count in pixels; it takes at "
                   "most %d dots per inch",
                   shown(value).text, row->name, INT32_MAX / longest);
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
  std::fprintf(out, "%s:%d: section %s\n", path, diagnosis.header_line, shown(diagnosis.text).text);
  for (int key = PARAM_INK; key <= PARAM_PAPERSOURCE; ++key) {
    const ConfSetting& set = diagnosis.settings[key];
    if (set.line > 0) {
      std::fprintf(out, "%s:%d: %s=%s", path, set.line, Params[key], shown(set.value).text);
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

// Whether the spooler's user can open the file at `path`: lpd runs the filter
// as daemon and LPRng as lp, so the file must be readable by others and each
// directory above it searchable by them. When it is not, writes why to `err`.
// A path that does not resolve is left to check_settings.
bool open_to_spooler(const char* path, FILE* err) {
  constexpr char OTHER_USER[] =
      "and ravofilter runs as another user (daemon under lpd, lp under LPRng)";
  char resolved[PATH_MAX];
  struct stat status {};
  if (realpath(path, resolved) == nullptr || stat(resolved, &status) != 0) return true;
  if ((status.st_mode & S_IROTH) == 0) {
    std::fprintf(err, "%s: not readable by others (mode %04o), %s; chmod o+r %s\n", path,
                 status.st_mode & 07777U, OTHER_USER, path);
    return false;
  }
  for (char* slash = std::strrchr(resolved, '/'); slash != nullptr;
       slash = std::strrchr(resolved, '/')) {
    const bool root = slash == resolved;
    slash[root ? 1 : 0] = '\0';
    if (stat(resolved, &status) == 0 && (status.st_mode & S_IXOTH) == 0) {
      std::fprintf(err,
                   "%s: the directory %s above it is not searchable by others (mode %04o), %s; "
                   "chmod o+x %s\n",
                   path, resolved, status.st_mode & 07777U, OTHER_USER, resolved);
      return false;
    }
    if (root) break;
  }
  return true;
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
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
    std::fputs(USAGE, stderr);
    return 2;
  }
  const char* path = argc == 2 ? argv[1] : SETTINGS_PATH;
  Conf conf;
  int status = 1;
  if (open_to_spooler(path, stderr)) {
    status = check_settings(path, stdout, stderr, &conf);
  } else {
    write_fallback(stderr, CONF_CANNOT_OPEN);
  }
  if ((std::ferror(stdout) != 0 || std::fclose(stdout) != 0) && status == 0) {
    std::fprintf(stderr, "ravocheck: writing standard output : %s\n", std::strerror(errno));
    status = 1;
  }
  return status;
}

// NOLINTEND(cert-err33-c)
