/* Prints the rows of src/report/language_names.inc: every language ID
 * (LANGID, 0 to 0xFFFF) that the system's locale data names, with that
 * name in English as a C string literal in UTF-8. Built for Windows by
 * tools/gen_language_names.sh and run there, or under Wine, whose locale
 * data it reads; the script wraps the rows into the file.
 *
 * The name of an ID is the one Windows gives it in English:
 *  - an ID that is the identifier of a locale of its own (the locale's
 *    name maps back to exactly this ID): the locale's English display
 *    name, LOCALE_SENGLISHDISPLAYNAME ("German (Austria)");
 *  - any other ID the locale data resolves (a neutral sub-language such as
 *    0x0009, or a neutral script such as 0x7C04): the language alone,
 *    LOCALE_SENGLISHLANGUAGENAME ("English", "Chinese (Traditional)");
 *  - a neutral sub-language (0) that the data does not resolve, while a
 *    locale of the same primary language exists: that locale's language
 *    alone, the first such locale by sub-language;
 *  - primary language 0 never: those IDs (0x0400 user default, 0x0800
 *    system default, the custom and transient ones) stand for whatever
 *    locale a machine is set to, not for a language. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#define NAME_ROOM 256

/* Prints a UTF-16 name as a C literal in UTF-8: bytes past ASCII as
 * three-digit octal escapes, which unlike \x cannot run into the next
 * character. */
static void PrintLiteral(const WCHAR *name) {
  char utf8[4 * NAME_ROOM];
  int n =
      WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, NULL, NULL);
  putchar('"');
  for (int i = 0; i + 1 < n; ++i) {
    unsigned char c = (unsigned char)utf8[i];
    if (c == '"' || c == '\\')
      printf("\\%c", c);
    else if (c < 0x20 || c >= 0x7F)
      printf("\\%03o", c);
    else
      putchar(c);
  }
  putchar('"');
}

/* The locale's own name when the ID is exactly that locale's identifier. */
static int OwnLocale(unsigned id, WCHAR *locale, int room) {
  if (LCIDToLocaleName(id, locale, room, 0) <= 1)
    return 0;
  return LocaleNameToLCID(locale, 0) == id;
}

/* The language alone of the first locale with this primary language. */
static int FirstLocaleLanguage(unsigned primary, WCHAR *name) {
  WCHAR locale[LOCALE_NAME_MAX_LENGTH];
  for (unsigned sub = 1; sub < 0x40; ++sub) {
    unsigned id = (sub << 10) | primary;
    if (OwnLocale(id, locale, LOCALE_NAME_MAX_LENGTH))
      return GetLocaleInfoEx(locale, LOCALE_SENGLISHLANGUAGENAME, name,
                             NAME_ROOM) > 1;
  }
  return 0;
}

static int NameOf(unsigned id, WCHAR *name) {
  unsigned primary = id & 0x3FF;
  WCHAR locale[LOCALE_NAME_MAX_LENGTH];
  if (primary == 0)
    return 0;
  if (OwnLocale(id, locale, LOCALE_NAME_MAX_LENGTH))
    return GetLocaleInfoEx(locale, LOCALE_SENGLISHDISPLAYNAME, name,
                           NAME_ROOM) > 1;
  if (GetLocaleInfoW(id, LOCALE_SENGLISHLANGUAGENAME, name, NAME_ROOM) > 1)
    return 1;
  if ((id >> 10) == 0)
    return FirstLocaleLanguage(primary, name);
  return 0;
}

int main(void) {
  /* The rows go to a file: no CR before each LF. */
  _setmode(_fileno(stdout), _O_BINARY);
  for (unsigned id = 0; id <= 0xFFFF; ++id) {
    WCHAR name[NAME_ROOM];
    if (!NameOf(id, name))
      continue;
    printf("    {0x%04X, ", id);
    PrintLiteral(name);
    printf("},\n");
  }
  return 0;
}
