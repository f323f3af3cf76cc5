// The settings file reader: finds this printer's section in the settings file
// and turns its four keys into a settings record. It writes the filter's only
// two settings messages, "<path> : No such file" and "ravorc not read".

#ifndef RAVO_CONF_SETTINGS_H_
#define RAVO_CONF_SETTINGS_H_

#include <cstdint>
#include <cstdio>

#include "conf/conf.h"

inline constexpr char SETTINGS_PATH[] = "/etc/ravorc";
inline constexpr char MODEL_NAME[] = "Marven Jetto 412_519";

// Settings lines are read in pieces of at most 253 characters; a longer line
// arrives as several pieces, each handled as a line of its own.
inline constexpr int PIECE_SIZE = 254;  // including the terminator
inline constexpr size_t LINE_SCRATCH_SIZE = 256;
inline constexpr size_t FIELD_SIZE = 12;            // media size and paper source values
inline constexpr size_t STREAM_BUFFER_SIZE = 4096;  // the settings file's read buffer

// Indexes of the settings keys in Params.
enum ParamIndex { PARAM_INK, PARAM_RESOLUTION, PARAM_MEDIASIZE, PARAM_PAPERSOURCE };

extern "C" {

// The settings keys, in the order they are matched: "ink", "resolution",
// "mediasize", "papersource".
extern const char* const Params[4];
extern const int32_t Param_Num;

// Reads SETTINGS_PATH into `conf`. Returns 0 when it was filled, 1 otherwise;
// on failure `conf` is untouched.
int read_conf(Conf* conf);

// Reads the open settings file from its current position up to this printer's
// section header. Returns -1 for a malformed file, 0 when no section matches,
// or the 1-based number of the file's line that holds the matching header,
// the file then positioned just after it. Lines are counted as an editor
// counts them, whatever they hold.
int seek_model_section(FILE* file);

// Removes every whitespace character of the POSIX locale from `text` in place,
// and returns `text`. Bytes 0x80 and above are never whitespace.
char* strip_space(char* text);

// Closes `file` if it is not null, writes "ravorc not read" to standard error
// and returns 1.
int conf_error(FILE* file);

}  // extern "C"

// Why a reading of the settings file ended as it did, and where, for a reader
// given one. Lines are the file's own, counted as an editor counts them, even
// where a long line was read in pieces; 0 means no line.
struct ConfSetting {
  int line;                // the line that last set the key; 0 when none did
  char value[PIECE_SIZE];  // its value, whitespace removed
};
struct ConfDiagnosis {
  ConfFault fault;          // CONF_USABLE when the record was filled
  int line;                 // the line at fault, where one is
  int key;                  // the key at fault (an index of Params), or -1
  int error;                // errno of a failed open or read; 0 when none
  int header_line;          // the section header read, where one was
  char text[PIECE_SIZE];    // the piece at fault, or the header read
  ConfSetting settings[4];  // one a key, in the order of Params
};

// read_conf on the settings file at `path`; its messages name `path`. Given
// a `diagnosis`, it fills that instead of writing any message.
int read_conf_file(const char* path, Conf* conf, ConfDiagnosis* diagnosis = nullptr);

#endif  // RAVO_CONF_SETTINGS_H_
