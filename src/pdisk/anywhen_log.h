/*
** The anywhen history's texts: content hashes, dates and times, the lines
** of a day log, and the two readers of a day log (the path table and the
** search behind a fetch). Pure functions over bytes; no host calls.
*/
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "htable.h"

/* Characters of a content hash: 32 lowercase hex digits. */
inline constexpr size_t ANYWHEN_HASH_LEN = 32;

/* Characters of a time text "YYYY-MM-DD_HH:MM:SS". */
inline constexpr size_t ANYWHEN_TIME_LEN = 19;

/* Where the path starts in a ':', '$' or '+' line: kind, space, hash, space. */
inline constexpr size_t ANYWHEN_PATH_AT = 2 + ANYWHEN_HASH_LEN + 1;

/* Files of this size or more are never recorded (the read buffer's size). */
inline constexpr int64_t ANYWHEN_BLOB_MAX = int64_t(16) << 20;

/* A delta longer than this is never stored inline. */
inline constexpr int64_t ANYWHEN_DELTA_MAX = 8192;

/* A delta this short is stored inline whatever the file's size. */
inline constexpr int64_t ANYWHEN_DELTA_SMALL = 512;

/* Otherwise a delta is stored inline only when at most size / this. */
inline constexpr int64_t ANYWHEN_DELTA_RATIO = 16;

/* Delta bytes per '|' line, so a line stays under 80 characters. */
inline constexpr size_t ANYWHEN_DELTA_LINE_BYTES = 38;

/* Buckets of the path table. */
inline constexpr uint32_t ANYWHEN_TABLE_BUCKETS = 65536;

/* The daily branch skips folders nested deeper than this. */
inline constexpr int ANYWHEN_MAX_DEPTH = 1024;

/* Longest text a fetch accepts. */
inline constexpr size_t ANYWHEN_FETCH_TEXT_MAX = 2047;

/* The walk back over missing day logs stops at the first day of this month
   in any year up to ANYWHEN_FIRST_YEAR. */
inline constexpr int ANYWHEN_FIRST_YEAR = 2024;
inline constexpr int ANYWHEN_FIRST_MONTH = 4;

/* ---- content hashes ---- */

/* The content hash of the 'len' bytes at 'bytes': MurmurHash3 x64 128 with
   seed 0, the two 64-bit words little-endian in order, as 32 lowercase hex
   digits. */
std::string anywhen_content_hash(const uint8_t *bytes, size_t len);

/* True when 's' is exactly 32 lowercase hex digits. */
bool anywhen_is_hash(std::string_view s);

/* ---- dates and times (UTC) ---- */

struct anywhen_date {
    int year;   /* 0..9999 */
    int month;  /* 1..12 */
    int day;    /* 1..31 (a day log may not exist for every day) */
};

/* The UTC date of 'utc_s' seconds since the epoch. */
anywhen_date anywhen_date_of(int64_t utc_s);

/* "YYYY-MM-DD_HH:MM:SS" of 'utc_s' (UTC). */
std::string anywhen_time_text(int64_t utc_s);

/* "YYYY-MM-DD_00:00:00" of 'd'. */
std::string anywhen_midnight_text(const anywhen_date &d);

/* The month folder's name "YYYY-MM" and the day log's name "DD.log". */
std::string anywhen_month_name(const anywhen_date &d);
std::string anywhen_day_log_name(const anywhen_date &d);

/* Reads "YYYY-MM-DD" from the first 10 characters of 'text': digits where
   the digits go, '-' between, month 1..12, day 1..31. False otherwise. */
bool anywhen_parse_date(std::string_view text, anywhen_date *out);

/* <0, 0, >0 as 'a' is before, equal to or after 'b'. */
int anywhen_date_cmp(const anywhen_date &a, const anywhen_date &b);

/* Moves 'd' one day back for the walk over missing logs: from day 1 to day
   31 of the previous month. False (d unchanged) when the walk gives up: at
   day 1 of a month up to ANYWHEN_FIRST_MONTH of a year up to
   ANYWHEN_FIRST_YEAR. */
bool anywhen_step_back(anywhen_date *d);

/* ---- log lines ---- */

/* One line of a day log as the readers see it. */
struct anywhen_line {
    char kind;              /* ':', '$', '+', '@', '|', or 0 for a line no reader uses */
    bool valid;             /* false: malformed or torn; readers ignore it */
    std::string_view hash;  /* ':', '$', '+': the 32-digit hash */
    std::string_view path;  /* ':', '$', '+': the virtual path */
    std::string_view time;  /* '@': the 19-character time */
    std::string_view hex;   /* '|': the hex digits (an even, non-zero count) */
};

/*
** Reads the lines of a day log in order. A line runs to its "\n" and is
** read whole, whatever its length; characters of code 32 and below are
** trimmed from its end, never the first two. A last line without "\n" is
** torn and comes out invalid. Hash fields must be 32 lowercase hex digits;
** paths must begin with '/' and hold no control byte; time lines must carry
** a time of digits and separators.
*/
class anywhen_line_reader {
public:
    anywhen_line_reader(const uint8_t *bytes, size_t len) : p_(bytes), end_(bytes + len) {}

    /* The next line into *line; false at the end. */
    bool next(anywhen_line *line);

    /* Bytes not yet read. */
    size_t left() const { return static_cast<size_t>(end_ - p_); }

private:
    const uint8_t *p_;    /* start of the next line */
    const uint8_t *end_;  /* end of the log */
};

/* Parses one line's text (already cut at its "\n" and trimmed); 'whole' is
   false for a torn last line. */
anywhen_line anywhen_parse_line(std::string_view text, bool whole);

/* The bytes of the hex digits 'hex' appended to 'out'; false (out as it
   was) unless every character is a lowercase hex digit and the count even. */
bool anywhen_hex_to_bytes(std::string_view hex, std::vector<uint8_t> *out);

/* ---- writing lines ---- */

/* "@ <time>\n", or "@ <time> <label>\n" with a non-empty label. */
std::string anywhen_time_line(std::string_view time, std::string_view label);

/* "<kind> <hash> <path>\n" for ':', '$' and '+'. */
std::string anywhen_hash_line(char kind, std::string_view hash, std::string_view path);

/* The delta lines of 'delta': "| " and two hex digits per byte, at most
   ANYWHEN_DELTA_LINE_BYTES bytes a line, each ended by "\n". Appended to 'out'. */
void write_delta(std::string *out, const uint8_t *delta, size_t len);

/* ---- readers ---- */

/*
** Fills 'table' from the day log in 'bytes': every valid ':' or '$' line maps
** its path to its hash, later lines replacing earlier ones. A path the table
** cannot take is left out. Returns the number of lines entered.
*/
int anywhen_load_table(htable_rec *table, const uint8_t *bytes, size_t len);

/* What a day log holds for one path at one time. */
struct anywhen_found {
    bool found;                  /* a version was recorded at or before the time */
    std::string hash;            /* the blob holding it, or the base of the delta */
    std::vector<uint8_t> delta;  /* empty: the blob is the version; else apply it to the blob */
};

/*
** Searches the day log in 'bytes' for 'path' as it was at 'asked' (a time
** text, compared as text). Entries before the first time line count from
** 'midnight'. The last ':', '$' or '+' entry for the path at or before the
** asked time wins; a '+' entry whose delta lines are malformed or torn, or
** that has none, is passed over.
*/
anywhen_found anywhen_search_log(const uint8_t *bytes, size_t len, std::string_view path, std::string_view asked,
                                 std::string_view midnight);
