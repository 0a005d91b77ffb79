// The --json object: escaping, the always-present keys, the names given
// to numbers, and facts gathered at the same stages the text report stops.
#include <string.h>

#include <algorithm>

#include "decimal.h"
#include "fact_fields.h"
#include "file_facts.h"
#include "json_fields.h"
#include "json_index.h"
#include "json_report.h"
#include "json_writer.h"
#include "report.h"
#include "terminal_text.h"
#include "test_support.h"
#include "unicode_text.h"
#include "version_facts.h"
#include "version_text.h"

namespace {

std::string Quoted(const std::string &bytes) {
  JsonWriter w = JsonWriter();
  JsonString(&w, bytes);
  return JsonFinish(&w);
}

TEST(JsonString, EscapesWhatBreaksAStringOrALine) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\ back", "\"say \\\"hi\\\" \\\\ back\""},
      {"tab\there\nnew\rline", "\"tab\\there\\nnew\\rline\""},
      {std::string("nul\0", 4), "\"nul\\u0000\""},
      {"\x01\x1b[31m\x1f\x7f", "\"\\u0001\\u001b[31m\\u001f\\u007f\""},
      {"\b\f", "\"\\b\\f\""},
      {"caf\xC3\xA9 \xE4\xB8\xAD", "\"caf\xC3\xA9 \xE4\xB8\xAD\""},
      {"\xC2\x85|\xC2\x9F|\xC2\xA0", "\"\\u0085|\\u009f|\xC2\xA0\""},
      {"\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAA",
       "\"\\u2028\\u2029\xE2\x80\xAA\""},
      {"\xFF name", "\"\xEF\xBF\xBD name\""},
      {"ok \xE2\x82", "\"ok \xEF\xBF\xBD\""},
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Quoted(c.in), c.out) << c.in;
}

// Plain text goes eight bytes at a time: a byte to escape or check is
// found at every place in a long run, at either end and beside another.
TEST(JsonString, WhatNeedsEscapingIsFoundAnywhereInALongRun) {
  const struct {
    std::string in, out;
  } marks[] = {
      {"\"", "\\\""},
      {"\\", "\\\\"},
      {"\n", "\\n"},
      {std::string("\0", 1), "\\u0000"},
      {"\x1f", "\\u001f"},
      {"\x7f", "\\u007f"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xC2\x85", "\\u0085"},
      {"\xE2\x80\xA8", "\\u2028"},
      {"\xFF", "\xEF\xBF\xBD"},
      {" ", " "},
      {"~", "~"},
  };
  // Texts long enough for whole blocks of bytes and a last block that
  // overlaps them, and short ones, looked at in smaller steps.
  for (const std::string plain :
       {"abcdefghijklmnopqrstuvwxyz0123456789ABCD", "abcdefghij", "abc"})
    for (const auto &m : marks)
      for (size_t at = 0; at <= plain.size(); ++at) {
        std::string in = plain.substr(0, at) + m.in + plain.substr(at);
        std::string out =
            "\"" + plain.substr(0, at) + m.out + plain.substr(at) + "\"";
        EXPECT_EQ(Quoted(in), out) << at << " " << m.out;
        in = plain.substr(0, at) + m.in + m.in + plain.substr(at);
        out = "\"" + plain.substr(0, at) + m.out + m.out + plain.substr(at) +
              "\"";
        EXPECT_EQ(Quoted(in), out) << at << " twice " << m.out;
      }
}

TEST(JsonString, IllFormedUtf8IsReplacedPartByPartAsTheReaderDoes) {
  const std::string kFffd = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"\xC0\x80", kFffd + kFffd},                         // overlong NUL
      {"\xE0\x9F\xBF", kFffd + kFffd + kFffd},             // overlong
      {"\xF0\x8F\xBF\xBF", kFffd + kFffd + kFffd + kFffd}, // overlong
      {"\xED\xA0\x80x", kFffd + kFffd + kFffd + "x"},      // U+D800
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},                    // U+D7FF
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd}, // U+110000
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},            // U+10FFFF
      {"\xF5\x80", kFffd + kFffd},
      {"a\xE2\x82", "a" + kFffd},     // truncated at the end
      {"\xF0\x9F\x98z", kFffd + "z"}, // truncated by a character
      {"\xE2\x82\xE2\x82\xAC", kFffd + "\xE2\x82\xAC"},
      {"\x80\xBF", kFffd + kFffd}, // continuations alone
      {"\xC3\xA9\xFF\xC3\xA9", "\xC3\xA9" + kFffd + "\xC3\xA9"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Quoted(c.in), "\"" + c.out + "\"") << c.in;
    std::string converted;
    AppendBytesAsUtf8(c.in.data(), c.in.size(), &converted);
    EXPECT_EQ(converted, c.out) << c.in;
  }
}

TEST(FormatDecimal, DigitsPaddedToTheWidthAskedAndNoFurther) {
  struct Case {
    unsigned long long value;
    size_t minDigits;
    const char *out;
  } cases[] = {
      {0, 1, "0"},
      {0, 0, "0"},
      {7, 2, "07"},
      {10, 2, "10"},
      {65535, 2, "65535"},
      {4294967295ull, 1, "4294967295"},
      {18446744073709551615ull, 1, "18446744073709551615"},
      {5, 40, "00000000000000000005"}, // a width past the buffer is cut
      // Each count of digits, odd and even, padded or not.
      {9, 1, "9"},
      {99, 1, "99"},
      {100, 1, "100"},
      {2600, 2, "2600"},
      {12345, 8, "00012345"},
      {905, 4, "0905"},
      // Either side of five digits, and of a width of five.
      {9999, 5, "09999"},
      {10000, 1, "10000"},
      {99999, 5, "99999"},
      {100000, 1, "100000"},
      {0, 5, "00000"},
      {100, 5, "00100"},
      {65535, 6, "065535"},
      {3, 6, "000003"},
      {1000000000000000000ull, 1, "1000000000000000000"},
      {10000000000000000000ull, 1, "10000000000000000000"},
  };
  for (const Case &c : cases) {
    char out[kMaxDecimalDigits + 1];
    memset(out, 'x', sizeof out);
    size_t n = FormatDecimal(c.value, out, c.minDigits);
    EXPECT_EQ(std::string(out, n), c.out) << c.value;
    EXPECT_EQ(out[n], 'x') << c.value; // nothing written past the digits
  }
}

TEST(JsonWriter, CommasBetweenMembersAndElementsOnly) {
  JsonWriter w = JsonWriter();
  JsonBeginObject(&w);
  JsonKey(&w, "a");
  JsonBeginArray(&w);
  JsonNumber(&w, 0);
  JsonNumber(&w, 4294967295ul);
  JsonBeginObject(&w);
  JsonEndObject(&w);
  JsonEndArray(&w);
  JsonKey(&w, "b");
  JsonNull(&w);
  JsonMemberName(&w, "c\"", 2);
  JsonStringOrNull(&w, nullptr);
  JsonRawMembers(&w, "\"d\":null,\"e\":1");
  JsonEndObject(&w);
  EXPECT_EQ(JsonFinish(&w), "{\"a\":[0,4294967295,{}],\"b\":null,"
                            "\"c\\\"\":null,\"d\":null,\"e\":1}");
}

// A value written on its own is shown as a cell shows it, from what the
// writer wrote and never read back: a string's text made valid UTF-8 (its
// JSON decoded), null nothing, anything else its JSON text. One writer
// serves every case, so each starts from a restart.
TEST(JsonWriter, AValueWrittenOnItsOwnIsShownAsItsText) {
  const std::string kFffd = "\xEF\xBF\xBD";
  const struct {
    void (*write)(JsonWriter *w);
    JsonShown shown;
    std::string text;
  } cases[] = {
      {[](JsonWriter *w) { JsonString(w, "1.2.3.4"); }, kShownString,
       "1.2.3.4"},
      {[](JsonWriter *w) { JsonString(w, "a\"b\\c/\n\r\t\b\f\x01\x7f"); },
       kShownConverted, "a\"b\\c/\n\r\t\b\f\x01\x7f"},
      {[](JsonWriter *w) { JsonString(w, "\xC2\x85x\xE2\x80\xA8\xC3\xA9"); },
       kShownConverted, "\xC2\x85x\xE2\x80\xA8\xC3\xA9"},
      {[](JsonWriter *w) { JsonString(w, std::string("a\0b", 3)); },
       kShownConverted, std::string("a\0b", 3)},
      {[](JsonWriter *w) { JsonString(w, "x\xFFy\n\xC2"); }, kShownConverted,
       "x" + kFffd + "y\n" + kFffd},
      {[](JsonWriter *w) { JsonString(w, "\"\xE2\x82\"\xE2\x80\xA9"); },
       kShownConverted, "\"" + kFffd + "\"\xE2\x80\xA9"},
      {[](JsonWriter *w) { JsonString(w, "caf\xC3\xA9"); }, kShownString,
       "caf\xC3\xA9"},
      {[](JsonWriter *w) { JsonString(w, ""); }, kShownString, ""},
      {[](JsonWriter *w) { JsonStringOrNull(w, "s"); }, kShownString, "s"},
      {[](JsonWriter *w) { JsonPlainString(w, "0409", 4); }, kShownString,
       "0409"},
      {[](JsonWriter *w) { JsonNull(w); }, kShownNull, ""},
      {[](JsonWriter *w) { JsonStringOrNull(w, nullptr); }, kShownNull, ""},
      {[](JsonWriter *w) { JsonNumber(w, 42); }, kShownAsWritten, "42"},
      {[](JsonWriter *w) { JsonBool(w, false); }, kShownAsWritten, "false"},
      // Strings and nulls inside an object or array are its JSON.
      {[](JsonWriter *w) {
         JsonBeginObject(w);
         JsonKey(w, "a");
         JsonString(w, "x\n");
         JsonKey(w, "b");
         JsonNull(w);
         JsonEndObject(w);
       },
       kShownAsWritten, "{\"a\":\"x\\n\",\"b\":null}"},
      {[](JsonWriter *w) {
         JsonBeginArray(w);
         JsonPlainString(w, "1", 1);
         JsonEndArray(w);
       },
       kShownAsWritten, "[\"1\"]"},
  };
  JsonWriter w = JsonWriter();
  for (const auto &c : cases) {
    JsonRestart(&w);
    c.write(&w);
    std::string json(w.buffer, 0, w.used);
    EXPECT_EQ(w.shown, c.shown) << json;
    EXPECT_EQ(std::string(JsonShownText(w)), c.text) << json;
    // What a reader of the JSON makes of it.
    EXPECT_EQ(json_index::Decoded(json), c.text) << json;
  }
}

const char *const kKeys[] = {"path",
                             "status",
                             "message",
                             "format",
                             "machine",
                             "language",
                             "charset",
                             "strings",
                             "string_tables",
                             "translations",
                             "languages",
                             "file_version",
                             "product_version",
                             "flags",
                             "os",
                             "type",
                             "subtype",
                             "fixed",
                             "version"};

// Every key, in the documented order, and only those at the top level.
void ExpectAllKeys(const std::string &object) {
  size_t at = 0;
  for (const char *key : kKeys) {
    size_t found = object.find(std::string("\"") + key + "\":", at);
    ASSERT_NE(found, std::string::npos) << key << " in " << object;
    at = found;
  }
}

TEST(JsonObject, AFailureHasEveryKeyAndNullData) {
  std::string o = JsonObject("dir/\xFF\x01.dll", "not-found",
                             "dir/\xFF\x01.dll was not found", nullptr);
  ExpectAllKeys(o);
  EXPECT_EQ(o.find('\n'), std::string::npos);
  EXPECT_NE(o.find("\"path\":\"dir/\xEF\xBF\xBD\\u0001.dll\""),
            std::string::npos);
  EXPECT_NE(o.find("\"message\":\"dir/\xEF\xBF\xBD\\u0001.dll was not found\""),
            std::string::npos);
  EXPECT_NE(o.find("\"format\":null,\"machine\":null"), std::string::npos);
  EXPECT_NE(o.find("\"fixed\":null,\"version\":null}"), std::string::npos);
}

VersionFacts SomeFacts() {
  VersionFacts f = VersionFacts();
  f.image.kind = kKindPe32Plus;
  f.image.machine = 0x8664;
  f.hasTranslations = true;
  f.translation = 0x04E40414u; // Norwegian Bokmål, code page 1252
  f.translations = {0x04E40414u, 0x04B00409u};
  f.hasTable = true;
  f.strings = {
      {"CompanyName", "first"}, {"Comments", "c"}, {"CompanyName", "second"}};
  f.hasFixed = true;
  f.fixed.dwFileVersionMS = 0x00010002;
  f.fixed.dwFileVersionLS = 0xFFFF0004;
  f.fixed.dwProductVersionMS = 0x00050000;
  f.fixed.dwFileFlags = 0x22;
  f.fixed.dwFileOS = 0x40004;
  f.fixed.dwFileType = 3;
  f.fixed.dwFileSubtype = 10;
  return f;
}

TEST(JsonObject, FactsAsTheDetailedReportNamesThem) {
  VersionFacts f = SomeFacts();
  std::string o = JsonObject("x.dll", "ok", nullptr, &f);
  ExpectAllKeys(o);
  const char *expected[] = {
      "\"message\":null",
      "\"format\":\"PE32+\",\"machine\":\"x64\"",
      "\"language\":{\"id\":1044,\"hex\":\"0414\",\"name\":\"Norwegian "
      "Bokm\xC3\xA5l\"}",
      "\"charset\":{\"id\":1252,\"hex\":\"04e4\",\"name\":\"Windows, "
      "Multilingual\"}",
      // a key stored twice keeps the value a lookup finds: the first
      "\"strings\":{\"CompanyName\":\"first\",\"Comments\":\"c\"}",
      "\"translations\":[{\"language\":{\"id\":1044,",
      "{\"language\":{\"id\":1033,\"hex\":\"0409\",\"name\":\"U.S. English\"},"
      "\"charset\":{\"id\":1200,\"hex\":\"04b0\",\"name\":\"Unicode\"}}]",
      "\"languages\":null",
      "\"file_version\":\"1.2.65535.4\",\"product_version\":\"5.0.0.0\"",
      "\"flags\":[\"PRERELEASE\",\"SPECIALBUILD\"]",
      "\"os\":\"Win32 API running on Windows NT\"",
      "\"type\":\"Device driver\",\"subtype\":null",
      "\"file_flags\":34,\"file_os\":262148,\"file_type\":3,"
      "\"file_subtype\":10",
  };
  for (const char *part : expected)
    EXPECT_NE(o.find(part), std::string::npos) << part << "\n" << o;
}

// An object written in the room of the one before (longer or shorter) is
// the object written afresh, and takes the room.
TEST(JsonObject, WrittenInTheRoomOfTheObjectBefore) {
  VersionFacts f = SomeFacts();
  const std::string longer =
      JsonObject(std::string(3000, 'x').c_str(), "ok", nullptr, &f);
  const std::string shorter = JsonObject("y.dll", "not-found", "m", nullptr);
  for (const std::string &before : {longer, shorter, std::string()}) {
    std::string room = before;
    EXPECT_EQ(
        JsonObject("y.dll", "not-found", "m", nullptr, JsonExtras(), &room),
        shorter);
    room = before;
    EXPECT_EQ(JsonObject(std::string(3000, 'x').c_str(), "ok", nullptr, &f,
                         JsonExtras(), &room),
              longer);
  }
}

TEST(JsonObject, MachinesByNameElseByNumberAndOnlyForPe) {
  struct Case {
    int kind;
    uint16_t machine;
    const char *json;
  } cases[] = {
      {kKindPe32, 0x014C, "\"machine\":\"x86\""},
      {kKindPe32Plus, 0x8664, "\"machine\":\"x64\""},
      {kKindPe32Plus, 0xAA64, "\"machine\":\"arm64\""},
      {kKindPe32, 0x01C0, "\"machine\":\"arm\""},
      {kKindPe32, 0x01C4, "\"machine\":\"arm\""},
      {kKindPe32, 0x0200, "\"machine\":512"},
      {kKindPe32, 0, "\"machine\":0"},
      {kKindNe, 0, "\"format\":\"NE\",\"machine\":null"},
      {kKindLe, 0, "\"format\":\"LE\",\"machine\":null"},
      {kKindUnknown, 0, "\"format\":null,\"machine\":null"},
  };
  for (const Case &c : cases) {
    VersionFacts f = VersionFacts();
    f.image.kind = c.kind;
    f.image.machine = c.machine;
    std::string o = JsonObject("x", "no-version", "x", &f);
    EXPECT_NE(o.find(c.json), std::string::npos) << c.json << "\n" << o;
  }
  VersionFacts f = SomeFacts();
  f.languages = {0x0407, 0x0409};
  EXPECT_NE(
      JsonObject("x", "ok", nullptr, &f)
          .find("\"languages\":[{\"id\":1031,\"hex\":\"0407\",\"name\":"
                "\"German\"},"
                "{\"id\":1033,\"hex\":\"0409\",\"name\":\"U.S. English\"}]"),
      std::string::npos);
}

// Every language object carries its ID in four lowercase hex digits, as
// table keys spell it, and a name wherever Windows has one: the detailed
// report's own text for the IDs it prints, the locale data's English name
// for the others, the language alone for a neutral sub-language.
TEST(JsonObject, LanguageNamesAndHexForms) {
  struct Case {
    unsigned id;
    const char *json; // the language object
  } cases[] = {
      // the detailed report's texts, unchanged
      {0x0409, "{\"id\":1033,\"hex\":\"0409\",\"name\":\"U.S. English\"}"},
      {0x0414, "{\"id\":1044,\"hex\":\"0414\","
               "\"name\":\"Norwegian Bokm\xC3\xA5l\"}"},
      {0x0000, "{\"id\":0,\"hex\":\"0000\",\"name\":\"Language-Neutral\"}"},
      {0x0400, "{\"id\":1024,\"hex\":\"0400\","
               "\"name\":\"Process Default Language\"}"},
      {0x0C0A, "{\"id\":3082,\"hex\":\"0c0a\",\"name\":\"Modern Spanish\"}"},
      // neutral sub-languages: the language alone
      {0x0001, "{\"id\":1,\"hex\":\"0001\",\"name\":\"Arabic\"}"},
      {0x0009, "{\"id\":9,\"hex\":\"0009\",\"name\":\"English\"}"},
      {0x0007, "{\"id\":7,\"hex\":\"0007\",\"name\":\"German\"}"},
      {0x005B, "{\"id\":91,\"hex\":\"005b\",\"name\":\"Sinhala\"}"},
      {0x7C04, "{\"id\":31748,\"hex\":\"7c04\","
               "\"name\":\"Chinese (Traditional)\"}"},
      // locales the detailed report does not know
      {0x0C07, "{\"id\":3079,\"hex\":\"0c07\",\"name\":\"German (Austria)\"}"},
      {0x241A, "{\"id\":9242,\"hex\":\"241a\","
               "\"name\":\"Serbian (Latin, Serbia)\"}"},
      {0x0481, "{\"id\":1153,\"hex\":\"0481\","
               "\"name\":\"M\xC4\x81ori (New Zealand)\"}"},
      // no name: defaults that stand for the machine's locale, sub-languages
      // no locale has, IDs outside the locale data
      {0x0800, "{\"id\":2048,\"hex\":\"0800\",\"name\":null}"},
      {0x1000, "{\"id\":4096,\"hex\":\"1000\",\"name\":null}"},
      {0x1C07, "{\"id\":7175,\"hex\":\"1c07\",\"name\":null}"},
      {0x8018, "{\"id\":32792,\"hex\":\"8018\",\"name\":null}"},
      {0xFFFF, "{\"id\":65535,\"hex\":\"ffff\",\"name\":null}"},
  };
  for (const Case &c : cases) {
    VersionFacts f = SomeFacts();
    f.translation = 0x04B00000u | c.id;
    f.translations = {f.translation};
    f.languages = {static_cast<uint16_t>(c.id), 0x0409};
    std::string o = JsonObject("x", "ok", nullptr, &f);
    EXPECT_NE(o.find(std::string("\"language\":") + c.json), std::string::npos)
        << c.json << "\n"
        << o;
    EXPECT_NE(o.find(std::string("\"translations\":[{\"language\":") + c.json),
              std::string::npos)
        << c.json;
    EXPECT_NE(o.find(std::string("\"languages\":[") + c.json),
              std::string::npos)
        << c.json;
  }
}

// Code pages carry the hex form too: with the language's, it spells the
// table key.
TEST(JsonObject, CharsetsCarryTheHexFormOfTheTableKey) {
  VersionFacts f = SomeFacts();
  std::string o = JsonObject("x", "ok", nullptr, &f);
  EXPECT_NE(o.find("\"charset\":{\"id\":1252,\"hex\":\"04e4\","
                   "\"name\":\"Windows, Multilingual\"}"),
            std::string::npos)
      << o;
  f.translation = 0xFDE90409u; // code page 65001
  EXPECT_NE(
      JsonObject("x", "ok", nullptr, &f)
          .find("\"charset\":{\"id\":65001,\"hex\":\"fde9\",\"name\":null}"),
      std::string::npos);
}

// Every table of the block, each with the language and code page its key
// spells; a key that spells none keeps its text and has null for both.
TEST(JsonObject, EveryStringTableWithItsLanguage) {
  VersionFacts f = SomeFacts();
  f.hasTables = true;
  f.tables = {{"041404e4", {{"CompanyName", "first"}, {"CompanyName", "x"}}},
              {"0C07FDE9", {{"Comments", "\xC3\xA9"}}},
              {"04090", {}},
              {"0409g4b0", {{"k", "v"}}}};
  std::string o = JsonObject("x", "ok", nullptr, &f);
  const char *expected =
      "\"string_tables\":["
      "{\"key\":\"041404e4\","
      "\"language\":{\"id\":1044,\"hex\":\"0414\","
      "\"name\":\"Norwegian Bokm\xC3\xA5l\"},"
      "\"charset\":{\"id\":1252,\"hex\":\"04e4\","
      "\"name\":\"Windows, Multilingual\"},"
      "\"strings\":{\"CompanyName\":\"first\"}},"
      "{\"key\":\"0C07FDE9\","
      "\"language\":{\"id\":3079,\"hex\":\"0c07\",\"name\":\"German "
      "(Austria)\"},"
      "\"charset\":{\"id\":65001,\"hex\":\"fde9\",\"name\":null},"
      "\"strings\":{\"Comments\":\"\xC3\xA9\"}},"
      "{\"key\":\"04090\",\"language\":null,\"charset\":null,\"strings\":{}},"
      "{\"key\":\"0409g4b0\",\"language\":null,\"charset\":null,"
      "\"strings\":{\"k\":\"v\"}}],"
      "\"translations\":";
  EXPECT_NE(o.find(expected), std::string::npos) << o;
  // The table the report uses is still "strings", as it was.
  EXPECT_NE(o.find("\"strings\":{\"CompanyName\":\"first\",\"Comments\":\"c\"},"
                   "\"string_tables\":["),
            std::string::npos);
  f.tables.clear();
  EXPECT_NE(JsonObject("x", "ok", nullptr, &f).find("\"string_tables\":[],"),
            std::string::npos);
  f.hasTables = false;
  EXPECT_NE(JsonObject("x", "ok", nullptr, &f).find("\"string_tables\":null,"),
            std::string::npos);
}

// The facts of a file by its path, through a record of its own.
int GatherFacts(const std::string &path, VersionFacts *facts) {
  std::string copy = path;
  FileRecord record;
  OpenFileRecord(&record, &copy[0], nullptr, nullptr);
  int result = GatherVersionFacts(&record, facts);
  CloseFileRecord(&record);
  return result;
}

// Whatever stage the text report stops at, the facts stop there too.
TEST(GatherVersionFacts, StopsWhereTheTextReportStops) {
  const char *fixtures[] = {"basic.dll",        "nover.dll",
                            "norsrc.dll",       "notrans.dll",
                            "nocompany.dll",    "nodesc.dll",
                            "noverstr.dll",     "secondtrans.dll",
                            "builds.dll",       "emptyval.dll",
                            "lang9.dll",        "strname.dll",
                            "name2.dll",        "d_cp0.dll",
                            "../ne/app16.exe",  "../ne/ne_truncated.exe",
                            "../ne/driver.vxd", "../lossless/unicode.dll"};
  for (const char *name : fixtures) {
    std::string path = Fixture(name);
    int text = 0;
    CaptureOutput([&] { text = ReportVersion(path.c_str(), true); });
    VersionFacts facts;
    EXPECT_EQ(GatherFacts(path, &facts), text) << name;
  }
  VersionFacts facts;
  EXPECT_EQ(GatherFacts(Fixture("notrans.dll"), &facts), kStatusNoTranslation);
  EXPECT_TRUE(facts.hasFixed); // the record is there all the same
  EXPECT_FALSE(facts.hasTranslations);
  EXPECT_EQ(facts.image.kind, kKindPe32);
  EXPECT_EQ(GatherFacts(Fixture("nocompany.dll"), &facts),
            kStatusNoCompanyName);
  EXPECT_TRUE(facts.hasTable);
  EXPECT_EQ(facts.strings.size(), 4u);
}

// The block's tables are listed whichever one the report uses, and whether
// or not a translation names them.
TEST(GatherVersionFacts, EveryTableOfTheBlock) {
  struct Case {
    const char *file;
    bool hasTable;
    const char *keys; // the tables' keys, joined by spaces
  } cases[] = {
      {"basic.dll", true, "040904b0"},
      {"secondtrans.dll", false, "040904b0"}, // the first entry has none
      {"notrans.dll", false, "040904b0"},     // no translation at all
      {"../ne/app16.exe", true, "040904E4"},
      {"nover.dll", false, nullptr},
  };
  for (const Case &c : cases) {
    VersionFacts facts;
    GatherFacts(Fixture(c.file), &facts);
    EXPECT_EQ(facts.hasTable, c.hasTable) << c.file;
    EXPECT_EQ(facts.hasTables, c.keys != nullptr) << c.file;
    std::string keys;
    for (const VersionTableText &t : facts.tables)
      keys += (keys.empty() ? "" : " ") + t.key;
    EXPECT_EQ(keys, c.keys ? c.keys : "") << c.file;
  }
  VersionFacts facts;
  GatherFacts(Fixture("secondtrans.dll"), &facts);
  ASSERT_EQ(facts.tables.size(), 1u);
  ASSERT_FALSE(TableStrings(facts, 0).empty());
  EXPECT_EQ(TableStrings(facts, 0)[0].key, "CompanyName");
  EXPECT_EQ(TableStrings(facts, 0)[0].value, "Quelvo Test Co");
  GatherFacts(Fixture("basic.dll"), &facts);
  ASSERT_EQ(facts.tables.size(), 1u);
  // The picked table's strings are held once, as "strings".
  EXPECT_EQ(facts.pickedTable, 0u);
  EXPECT_TRUE(facts.tables[0].strings.empty());
  EXPECT_EQ(&TableStrings(facts, 0), &facts.strings);
}

TEST(PrintSafeUtf8, ControlCharactersPrintAsOneSpaceEach) {
  std::string in = "a\tb\nc\x7F\xC2\x85\xC2\x9F|\xC2\xA0\xC3\xA9\xE4\xB8\xAD"
                   "\xF0\x9F\x98\x80|\xE2\x80\xA8\xE2\x80\xA9|\xE2\x80\xA7";
  EXPECT_EQ(CaptureOutput([&] { PrintSafeUtf8(in.data(), in.size()); }),
            "a b c   |\xC2\xA0\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80|  "
            "|\xE2\x80\xA7");
}

// What the value holds that would act on the terminal or reorder the line
// never reaches it as itself; the columns count what was printed, so that
// the --all layout pads after an escape as after any text.
TEST(PrintSafeUtf8, BidiControlsEscapedIllFormedBytesReplaced) {
  const struct {
    const char *in;
    const char *out;
    size_t columns;
  } cases[] = {
      {"exe.\xE2\x80\xAEtxt", "exe.\\u202etxt", 13},        // RLO
      {"\xE2\x81\xA6x\xE2\x81\xA9", "\\u2066x\\u2069", 13}, // isolates
      {"\xE2\x80\x8F\xD8\x9C", "\\u200f\\u061c", 12},       // marks
      {"\xE2\x80\x8D", "\xE2\x80\x8D", 1}, // a joiner reorders nothing
      {"a\x9B"
       "2Jb",
       "a\xEF\xBF\xBD"
       "2Jb",
       5},                                    // a lone C1 byte
      {"\xE0\x1B[2J", "\xEF\xBF\xBD [2J", 5}, // ESC after a cut lead
      {"\xC2", "\xEF\xBF\xBD", 1},
  };
  for (const auto &c : cases) {
    std::string in = c.in;
    size_t columns = 0;
    EXPECT_EQ(
        CaptureOutput([&] { columns = PrintSafeUtf8(in.data(), in.size()); }),
        c.out)
        << c.in;
    EXPECT_EQ(columns, c.columns) << c.in;
  }
}

// A cell a spreadsheet could take for a formula is quoted, whatever sign
// starts it; one that merely holds such a sign further on is not.
TEST(CsvLine, CellsThatCouldStartAFormulaAreQuoted) {
  const struct {
    const char *cell;
    const char *line;
  } cases[] = {
      {"\t=cmd", "\"\t=cmd\""},
      {"\tplain", "\"\tplain\""},
      {"\r=1", "\"\r=1\""},
      {"=1+2", "\"=1+2\""},
      {"+1", "\"+1\""},
      {"-1", "\"-1\""},
      {"@SUM(A1)", "\"@SUM(A1)\""},
      {"a\tb", "a\tb"},
      {"1.2-rc", "1.2-rc"},
      {"", ""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(CsvLine({c.cell}), c.line) << c.cell;
}

// A line for a terminal: what it would act on or what reorders the line is
// an escape, anything else as written; JSON's own escapes stay as they are.
TEST(AppendForTerminal, ControlsAndBidiBecomeEscapes) {
  const struct {
    const char *in;
    const char *out;
  } cases[] = {
      {"plain,\"quoted\"", "plain,\"quoted\""},
      {"a\x1b[2Jb", "a\\u001b[2Jb"},
      {"\"x\ry\n\tz\"", "\"x\\u000dy\\u000a\\u0009z\""},
      {"del\x7f", "del\\u007f"},
      {"c1\xC2\x9B"
       "31m",
       "c1\\u009b31m"},
      {"ls\xE2\x80\xA8ps\xE2\x80\xA9", "ls\\u2028ps\\u2029"},
      {"exe.\xE2\x80\xAEtxt", "exe.\\u202etxt"},
      {"\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\x8E\xD8\x9C",
       "\\u2066\\u2069\\u200e\\u061c"},
      {"M\xC3\xBCller \xE4\xB8\xAD \xF0\x9F\x98\x80",
       "M\xC3\xBCller \xE4\xB8\xAD \xF0\x9F\x98\x80"},
      {"lone\x9B"
       "x\xE0\x1B",
       "lone\\x9bx\\xe0\\u001b"},
      {"{\"path\":\"a\\u001bb\"}", "{\"path\":\"a\\u001bb\"}"},
  };
  for (const auto &c : cases) {
    std::string out;
    AppendForTerminal(c.in, &out);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

} // namespace

namespace {

// Version strings as inventories write them, and what their numbers are.
TEST(NormaliseVersion, NumericHeadAndSuffix) {
  const struct {
    const char *text;
    bool version;
    const char *dotted;
    const char *suffix;
  } cases[] = {
      {"1.2.3.4", true, "1.2.3.4", ""},
      {"3, 0, 21, 0", true, "3.0.21.0", ""},
      {"  2.5", true, "2.5", ""},
      {"1.2.3-beta+abc", true, "1.2.3", "-beta+abc"},
      {"6.1.7601.17514 (win7sp1_rtm.101119-1850)", true, "6.1.7601.17514",
       "(win7sp1_rtm.101119-1850)"},
      {"1.2.3.4.5", true, "1.2.3.4", ".5"},
      {"01.002.0.0", true, "1.2.0.0", ""},
      {"10.0.7+sha.abc", true, "10.0.7", "+sha.abc"},
      {"1.", true, "1", "."},
      {"1,2 ,3 , 4", true, "1.2.3.4", ""},
      {"v1.2", false, "", ""},
      {"", false, "", ""},
      {"1234567890.1", false, "", ""},
  };
  for (const auto &c : cases) {
    std::string dotted, suffix;
    EXPECT_EQ(NormaliseVersion(c.text, &dotted, &suffix), c.version) << c.text;
    if (!c.version)
      continue;
    EXPECT_EQ(dotted, c.dotted) << c.text;
    EXPECT_EQ(suffix, c.suffix) << c.text;
  }
}

// "version" takes the string where it reads as one and the fixed record
// otherwise, and says which.
TEST(JsonObject, VersionFromTheStringsElseTheFixedRecord) {
  VersionFacts f = SomeFacts();
  f.strings = {{"FileVersion", "3, 0, 21, 0 beta"}};
  std::string o = JsonObject("x.dll", "ok", nullptr, &f);
  EXPECT_NE(o.find("\"version\":{\"file\":\"3.0.21.0\",\"file_suffix\":"
                   "\"beta\",\"product\":\"5.0.0.0\",\"product_suffix\":null,"
                   "\"source\":\"mixed\"}"),
            std::string::npos)
      << o;
  f.strings = {{"fileversion", "2.0"}, {"ProductVersion", "2.1"}};
  o = JsonObject("x.dll", "ok", nullptr, &f);
  EXPECT_NE(o.find("\"file\":\"2.0\""), std::string::npos) << o;
  EXPECT_NE(o.find("\"source\":\"string\""), std::string::npos) << o;
  f.hasTable = false;
  o = JsonObject("x.dll", "ok", nullptr, &f);
  EXPECT_NE(o.find("\"file\":\"1.2.65535.4\""), std::string::npos) << o;
  EXPECT_NE(o.find("\"source\":\"fixed\""), std::string::npos) << o;
}

// A record of an examined file, as the gathering fills it.
FileFacts FileRecordOf(const char *path, const char *status,
                       const char *message, const VersionFacts *facts) {
  FileFacts file;
  file.path = path;
  file.status = status;
  file.hasMessage = message != nullptr;
  if (message != nullptr)
    file.message = message;
  file.examined = facts != nullptr;
  file.version = facts != nullptr ? *facts : VersionFacts();
  return file;
}

// A chosen field's JSON value, and its CSV cell, as the sinks write them.
std::string ChosenValue(const std::string &field, const FileFacts &file) {
  JsonWriter w = JsonWriter();
  WriteChosenField(&w, ChooseField(field), file);
  return JsonFinish(&w);
}

std::string ChosenCell(const std::string &field, const FileFacts &file) {
  CellScratch scratch;
  std::string line;
  AppendChosenCell(ChooseField(field), file, &scratch, &line);
  return line;
}

// A field written from the record is the whole object's member, value and
// cell; nested members by their dotted path, strings by their name.
TEST(JsonFields, ChosenFieldsAreTheObjectsMembers) {
  VersionFacts f = SomeFacts();
  f.strings = {{"Company,Name", "a \"quoted\", value"},
               {"Formula", "=1+2"},
               {"Line", "one\ntwo\u2028"}};
  std::string o = JsonObject("dir/x.dll", "ok", nullptr, &f);
  FileFacts file = FileRecordOf("dir/x.dll", "ok", nullptr, &f);
  std::vector<JsonMember> members;
  ASSERT_TRUE(IndexJsonObject(o, &members));
  const struct {
    const char *field;
    const char *cell;
  } cases[] = {
      {"path", "dir/x.dll"},
      {"status", "ok"},
      {"message", ""},
      {"fixed.file_flags", "34"},
      {"strings.Formula", "=1+2"},
      {"Formula", "=1+2"},
      {"Company,Name", "a \"quoted\", value"},
      {"Line", "one\ntwo\u2028"},
      {"language.name", "Norwegian Bokm\xC3\xA5l"},
      {"flags", "[\"PRERELEASE\",\"SPECIALBUILD\"]"},
      {"version.file", "1.2.65535.4"},
      {"nothing", ""},
  };
  std::vector<std::string> cells, fields;
  for (const auto &c : cases) {
    cells.push_back(CsvCell(o, FindField(members, c.field)));
    EXPECT_EQ(cells.back(), c.cell) << c.field;
    fields.push_back(c.field);
    EXPECT_EQ(ChosenValue(c.field, file),
              ValueOf(o, FindField(members, c.field)))
        << c.field;
    EXPECT_EQ(ChosenCell(c.field, file), CsvLine({c.cell})) << c.field;
  }
  EXPECT_EQ(CsvLine(cells),
            "dir/x.dll,ok,,34,\"=1+2\",\"=1+2\",\"a \"\"quoted\"\", "
            "value\",\"one\ntwo\u2028\",Norwegian Bokm\xC3\xA5l,"
            "\"[\"\"PRERELEASE\"\",\"\"SPECIALBUILD\"\"]\",1.2.65535.4,");
  // Every member the object has, nested ones included, is a field of the
  // table, written alike: the object, rebuilt from its top-level members'
  // writers, is the object again.
  std::string rebuilt = "{";
  for (const JsonMember &m : members) {
    EXPECT_EQ(ChosenValue(m.path, file), ValueOf(o, &m)) << m.path;
    if (m.path.find('.') != std::string::npos)
      continue;
    if (rebuilt.size() > 1)
      rebuilt += ',';
    rebuilt += "\"" + m.path + "\":" + ChosenValue(m.path, file);
  }
  EXPECT_EQ(rebuilt + "}", o);
  // An object of no file: each of its members alike, every one null but
  // the path, status and message.
  std::string none = JsonObject("x", "not-found", "x was not found", nullptr);
  FileFacts unexamined =
      FileRecordOf("x", "not-found", "x was not found", nullptr);
  std::vector<JsonMember> all;
  ASSERT_TRUE(IndexJsonObject(none, &all));
  EXPECT_EQ(all.size(), sizeof kKeys / sizeof kKeys[0]);
  for (const JsonMember &m : all)
    EXPECT_EQ(ChosenValue(m.path, unexamined), ValueOf(none, &m)) << m.path;
  EXPECT_FALSE(IndexJsonObject("{\"a\":", &members));
  EXPECT_FALSE(IndexJsonObject("[1]", &members));
}

// What a field list reads of the costly parts of an object decides what
// is gathered ("string_tables": every table's strings); the fields are
// written from the record whatever the parts, cell for cell the whole
// object's.
TEST(JsonFields, TheFieldsReadThePartsTheyName) {
  VersionFacts f = SomeFacts();
  f.strings = {{"CompanyName", "Co, \"Ltd\""}, {"FileVersion", "-1.0"}};
  f.hasTables = true;
  f.tables = {{"040904b0", f.strings}};
  const std::vector<std::vector<std::string>> lists = {
      DefaultCsvFields(),
      {"path", "status"},
      {"string_tables", "fixed.file_flags"},
      {"translations", "languages", "version.file"},
      {"version", "strings.CompanyName", "CompanyName"},
      {"stringsx", "string_tables2", "versions", "language.hex"},
      {"fixed.file_flags", "language.hex", "string_tables.0"},
  };
  const struct {
    bool strings, tables, translations, version;
  } parts[] = {
      // A field without a dot may be a string's name.
      {true, false, false, false}, {true, false, false, false},
      {true, true, false, false},  {true, false, true, true},
      {true, false, false, true},  {true, false, false, false},
      {false, true, false, false},
  };
  std::string whole = JsonObject("dir/x.dll", "ok", nullptr, &f);
  std::vector<JsonMember> all;
  ASSERT_TRUE(IndexJsonObject(whole, &all));
  FileFacts file = FileRecordOf("dir/x.dll", "ok", nullptr, &f);
  for (size_t l = 0; l < lists.size(); ++l) {
    const std::vector<std::string> &fields = lists[l];
    JsonParts p = PartsForFields(fields);
    EXPECT_EQ(p.strings, parts[l].strings) << l;
    EXPECT_EQ(p.tables, parts[l].tables) << l;
    EXPECT_EQ(p.translations, parts[l].translations) << l;
    EXPECT_EQ(p.version, parts[l].version) << l;
    JsonExtras extras = JsonExtras();
    extras.parts = p;
    std::string part = JsonObject("dir/x.dll", "ok", nullptr, &f, extras);
    EXPECT_LE(part.size(), whole.size());
    std::string line;
    std::vector<std::string> cells;
    CellScratch scratch;
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string cell = CsvCell(whole, FindField(all, fields[i]));
      EXPECT_EQ(ChosenCell(fields[i], file), CsvLine({cell}))
          << l << " " << fields[i];
      if (i != 0)
        line.push_back(',');
      AppendChosenCell(ChooseField(fields[i]), file, &scratch, &line);
      cells.push_back(cell);
    }
    EXPECT_EQ(line, CsvLine(cells)) << l;
  }
}

// A string's cell comes from the record: the whole object's cell, for keys
// stored twice (in one case and in two), text that needs escaping or
// quoting, and bytes that are no UTF-8.
TEST(JsonFields, AStringsCellIsTheObjectsCell) {
  VersionFacts f = SomeFacts();
  f.strings = {{"CompanyName", "first"},
               {"CompanyName", "second"},
               {"companyname", "lower"},
               {"Comments", "a \"b\",\nc\x7f"},
               {"ProductName", "=caf\xC3\xA9"},
               {"Bad", "x\xFFy\xC2"},
               {"a.b", "dotted"},
               {"Empty", ""}};
  const std::vector<std::string> fields = {"path",
                                           "CompanyName",
                                           "companyname",
                                           "COMPANYNAME",
                                           "Comments",
                                           "ProductName",
                                           "Bad",
                                           "strings.Bad",
                                           "strings.a.b",
                                           "a.b",
                                           "Empty",
                                           "Missing",
                                           "status",
                                           "strings",
                                           "strings.CompanyName",
                                           "fixed.file_flags"};
  std::string whole = JsonObject("dir/x.dll", "ok", nullptr, &f);
  std::vector<JsonMember> all;
  ASSERT_TRUE(IndexJsonObject(whole, &all));
  FileFacts file = FileRecordOf("dir/x.dll", "ok", nullptr, &f);
  for (const std::string &field : fields) {
    EXPECT_EQ(ChosenCell(field, file),
              CsvLine({CsvCell(whole, FindField(all, field))}))
        << field;
    EXPECT_EQ(ChosenValue(field, file), ValueOf(whole, FindField(all, field)))
        << field;
  }
  // A file without a table, and an argument that names none: no cell.
  f.hasTable = false;
  FileFacts noTable = FileRecordOf("x", "no-translation", "m", &f);
  FileFacts none = FileRecordOf("x", "not-found", "m", nullptr);
  EXPECT_EQ(ChosenCell("CompanyName", noTable), "");
  EXPECT_EQ(ChosenCell("CompanyName", none), "");
  EXPECT_EQ(ChosenValue("strings.CompanyName", none), "null");
}

// A row is the whole object's row cell for cell: for each kind of facts
// (full, without a fixed record, without a translation, with nothing of a
// version resource, none at all) and every key every object has.
TEST(JsonFields, ARowIsTheObjectsRow) {
  VersionFacts full = SomeFacts();
  full.strings.push_back({"ProductName", "=sum(A1),\"x\"\n\xFF"});
  full.strings.push_back({"Comments2", ""});
  VersionFacts noFixed = full;
  noFixed.hasFixed = false;
  VersionFacts noTranslation = full;
  noTranslation.hasTranslations = false;
  noTranslation.hasTable = false;
  VersionFacts nothing = VersionFacts();
  nothing.image.kind = kKindNe;
  VersionFacts oneLanguage = nothing;
  oneLanguage.languages = {0x0409};
  VersionFacts twoLanguages = nothing;
  twoLanguages.languages = {0x0409, 0x0407};
  const struct {
    const char *path, *status, *message;
    const VersionFacts *facts;
  } objects[] = {
      {"dir/x.dll", "ok", nullptr, &full},
      {"a,\"b\".dll", "no-fixed-info", "a \"b\" has none.", &noFixed},
      {"-x.dll", "no-translation", "x", &noTranslation},
      {"\x7f\xC2\x85.dll", "no-version", "m", &nothing},
      {"y.dll", "no-version", "m", &oneLanguage},
      {"z.dll", "no-version", "m", &twoLanguages},
      {"nosuch*.dll", "not-found", "nosuch*.dll was not found.", nullptr},
  };
  std::vector<std::string> columns(std::begin(kKeys), std::end(kKeys));
  for (const char *name :
       {"CompanyName", "companyname", "ProductName", "strings.ProductName",
        "Comments2", "Missing", "strings.a.b", "fixed.file_flags",
        "version.file", "language.hex"})
    columns.push_back(name);
  const std::vector<std::vector<std::string>> lists = {DefaultCsvFields(),
                                                       columns};
  CellScratch scratch;
  for (const std::vector<std::string> &fields : lists) {
    for (const auto &o : objects) {
      std::string whole = JsonObject(o.path, o.status, o.message, o.facts);
      std::vector<JsonMember> all;
      ASSERT_TRUE(IndexJsonObject(whole, &all));
      FileFacts file = FileRecordOf(o.path, o.status, o.message, o.facts);
      std::vector<std::string> cells;
      std::string line;
      for (size_t i = 0; i < fields.size(); ++i) {
        cells.push_back(CsvCell(whole, FindField(all, fields[i])));
        if (i != 0)
          line.push_back(',');
        AppendChosenCell(ChooseField(fields[i]), file, &scratch, &line);
      }
      EXPECT_EQ(line, CsvLine(cells)) << o.path;
    }
  }
  // Keys the object has only with some options: a member of the table,
  // absent (and a string's name) without its option.
  FileFacts file = FileRecordOf("x.dll", "ok", nullptr, &full);
  file.version.strings.push_back({"sha256", "a string"});
  for (const char *field :
       {"sha256", "dotnet", "signature", "expect", "lint"}) {
    EXPECT_NE(ChooseField(field).field, nullptr) << field;
    EXPECT_EQ(ChosenValue(field, file),
              strcmp(field, "sha256") == 0 ? "\"a string\"" : "null")
        << field;
  }
}

} // namespace
