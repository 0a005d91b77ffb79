// The option table against everything made from it or held to it: the
// parser, --help, the bash completion and the manual page. A new row that
// one of them misses fails here.
#include <ctype.h>
#include <stdio.h>
#include <sys/wait.h>

#include <map>
#include <set>
#include <sstream>

#include "lint.h"
#include "options.h"
#include "test_support.h"

namespace {

const LongOption *const kEnd = kLongOptions + kLongOptionCount;

const LongOption *Row(const std::string &word) {
  for (const LongOption *o = kLongOptions; o != kEnd; ++o)
    if (word == o->word)
      return o;
  return nullptr;
}

// Where word's entry begins in the --help text, at or after from.
size_t EntryAt(const std::string &help, const std::string &word, size_t from) {
  std::string start = "\n  " + word;
  for (size_t at = from; (at = help.find(start, at)) != std::string::npos;
       ++at) {
    char after = help[at + start.size()];
    if (after == ' ' || after == ',' || after == '\n')
      return at;
  }
  return std::string::npos;
}

bool TakesValue(const LongOption &o) {
  return o.kind == kOptionValue || o.kind == kOptionList;
}

// The options whose members a parse left set, by the table's own members.
std::set<std::string> SetOptions(const RunOptions &options) {
  std::set<std::string> set;
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    bool on = false;
    if (o->flag != nullptr)
      on = options.*(o->flag);
    else if (o->value != nullptr)
      on = options.*(o->value) != nullptr;
    else if (o->list != nullptr)
      on = !(options.*(o->list)).empty();
    if (on)
      set.insert(o->word);
  }
  return set;
}

struct Parsed {
  int first;
  RunOptions options;
  // The words options point into; a move of the vector leaves them put.
  std::vector<std::string> args;
};

Parsed Parse(std::vector<std::string> words) {
  Parsed p;
  p.args = std::move(words);
  p.args.insert(p.args.begin(), "quelvo");
  std::vector<char *> argv;
  for (std::string &a : p.args)
    argv.push_back(&a[0]);
  p.first =
      ParseLongOptions(static_cast<int>(argv.size()), argv.data(), &p.options);
  return p;
}

TEST(OptionTable, RowsHangTogether) {
  std::set<std::string> words;
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    EXPECT_TRUE(words.insert(o->word).second) << o->word;
    EXPECT_EQ(std::string(o->word).compare(0, 2, "--"), 0) << o->word;
    // --help shows a value's name; a flag has none to show.
    EXPECT_EQ(o->valueName != nullptr, TakesValue(*o)) << o->word;
    // An implication the parser cannot find would be dropped silently.
    if (o->implies != nullptr) {
      const LongOption *implied = Row(o->implies);
      ASSERT_NE(implied, nullptr) << o->word << " implies " << o->implies;
      EXPECT_EQ(implied->kind, kOptionFlag) << o->word;
    }
    // One described with the option before it is listed beside it: the
    // stops are listed apart, so only an option of the same kind will do.
    if (o->help == nullptr) {
      ASSERT_NE(o, kLongOptions) << o->word;
      EXPECT_EQ(o[-1].kind, o->kind) << o->word << " shares a description";
    }
  }
  EXPECT_NE(kLongOptions[0].usage, kUsageOr);
}

// Each option given alone sets its member and what its row implies, and
// nothing else; one that takes a value takes the next word, whatever it
// is, and is a usage error without it.
TEST(OptionTable, EveryOptionParsesAndImpliesWhatItsRowSays) {
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    if (o->kind == kOptionEnd)
      continue;
    std::string word = o->word;
    std::set<std::string> expected = {word};
    if (o->implies != nullptr)
      expected.insert(o->implies);
    Parsed p;
    switch (o->kind) {
    case kOptionFlag:
      p = Parse({word, "x.dll"});
      EXPECT_EQ(p.first, 2) << word;
      break;
    case kOptionValue:
      p = Parse({word, "--json", "x.dll"});
      EXPECT_EQ(p.first, 3) << word;
      EXPECT_STREQ(p.options.*(o->value), "--json") << word;
      break;
    case kOptionList:
      p = Parse({word, "a", word, "--json", "x.dll"});
      EXPECT_EQ(p.first, 5) << word;
      EXPECT_EQ((p.options.*(o->list)).size(), 2u) << word;
      break;
    case kOptionStop:
      p = Parse({word, "--json", "x.dll"});
      EXPECT_EQ(p.first, 2) << word;
      break;
    case kOptionEnd:
      break;
    }
    EXPECT_EQ(SetOptions(p.options), expected) << word;
    EXPECT_EQ(AnyLongOption(p.options), o->kind != kOptionStop) << word;
    EXPECT_FALSE(p.options.usageError) << word;
    EXPECT_EQ(p.options.badOption, nullptr) << word;
    EXPECT_EQ(Parse({word}).options.usageError, TakesValue(*o)) << word;
    // Among the files, it is out of place, not a pattern.
    Parsed late = Parse({"--all", "x.dll", word});
    EXPECT_STREQ(late.options.badOption, o->word);
    EXPECT_TRUE(late.options.misplaced) << word;
    // A slip names it: cut short, or spelt whole.
    EXPECT_STREQ(NearestLongOption(word.c_str()), o->word);
    std::string cut = word.substr(0, word.size() - 1);
    EXPECT_STREQ(NearestLongOption(cut.c_str()), o->word) << cut;
  }
}

// "--" ends the options, and only after a long option is it one of them;
// no slip is taken for it.
TEST(OptionTable, DoubleDashEndsTheOptions) {
  Parsed alone = Parse({"--", "--json"});
  EXPECT_EQ(alone.first, 2);
  EXPECT_TRUE(SetOptions(alone.options).empty());
  EXPECT_FALSE(AnyLongOption(alone.options));
  Parsed after = Parse({"--quiet", "--", "--json"});
  EXPECT_EQ(after.first, 3);
  EXPECT_EQ(SetOptions(after.options),
            (std::set<std::string>{"--quiet", "--"}));
  EXPECT_EQ(NearestLongOption("--x"), nullptr);
  EXPECT_EQ(NearestLongOption("---"), nullptr);
}

// Every option is in the usage lines and has an entry below them, with its
// value's name; an implication is said in its entry; --lint names the
// lint table's rules.
TEST(OptionTable, HelpDescribesEveryOption) {
  std::string help = LongUsageText();
  size_t linesEnd = help.find("\n\n");
  ASSERT_NE(linesEnd, std::string::npos);
  std::string lines = help.substr(0, linesEnd);
  size_t entries = help.find("\n  -v ");
  ASSERT_NE(entries, std::string::npos);
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    std::string label = o->word;
    if (o->valueName != nullptr)
      label = label + " " + o->valueName;
    bool inBrackets = o->kind != kOptionStop;
    bool opens = inBrackets && o->usage != kUsageOr;
    bool closes = inBrackets && (o + 1 == kEnd || o[1].usage != kUsageOr);
    std::string inLines = (opens ? "[" : "| ") + label + (closes ? "]" : "");
    EXPECT_NE(lines.find(inLines), std::string::npos) << inLines;
    // The entry's label: at the start of a line, or after the option it
    // shares a description with.
    const LongOption *head = o;
    while (head->help == nullptr)
      --head;
    size_t at = EntryAt(help, head->word, entries);
    ASSERT_NE(at, std::string::npos) << o->word;
    size_t line = help.find('\n', at + 1);
    EXPECT_NE(help.substr(at, line - at).find(label), std::string::npos)
        << label;
    if (o->implies == nullptr)
      continue;
    // Said once for a run of options that imply the same: in the entry of
    // this one or of one after it in the run.
    const LongOption *next = o + 1;
    while (next != kEnd &&
           (next->kind == kOptionStop || next->help == nullptr ||
            (next->implies != nullptr &&
             std::string(next->implies) == o->implies)))
      ++next;
    size_t to = next == kEnd ? help.size() : EntryAt(help, next->word, at);
    std::istringstream words(help.substr(at, to - at));
    std::string text, word;
    while (words >> word)
      text += word + " ";
    EXPECT_NE(text.find(std::string("implies ") + o->implies + " "),
              std::string::npos)
        << o->word;
  }
  std::string range =
      LintRuleId(1) + " to " + LintRuleId(kLintRuleCount) + " (see";
  EXPECT_NE(help.find(range), std::string::npos) << range;
}

// What the bash completion offers for the last word of each line (a
// trailing space stands for an empty word), asked of bash itself. False
// when there is no bash to ask.
bool CompletionOffers(const std::vector<std::string> &lines,
                      std::vector<std::set<std::string>> *offers) {
  std::string script = "source '" QUELVO_COMPLETION "' || exit 1\n"
                       "offers() {\n"
                       "  read -r -a COMP_WORDS <<<\"$1\"\n"
                       "  [[ $1 == *' ' ]] && COMP_WORDS+=('')\n"
                       "  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                       "  COMPREPLY=()\n"
                       "  _quelvo quelvo \"${COMP_WORDS[COMP_CWORD]}\"\n"
                       "  echo \"${COMPREPLY[*]} .\"\n"
                       "}\n";
  for (const std::string &line : lines)
    script += "offers '" + line + "'\n";
  ScratchDir dir;
  std::string path = dir.Add("offers.sh", script);
  FILE *bash = popen(("bash " + path + " 2>&1").c_str(), "r");
  if (bash == nullptr)
    return false;
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, bash)) > 0)
    output.append(buffer, n);
  int status = pclose(bash);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    return false;
  EXPECT_EQ(status, 0) << output;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::set<std::string> set;
    std::string word;
    while (words >> word)
      if (word != ".")
        set.insert(word);
    offers->push_back(set);
  }
  return true;
}

// The first row of the alternatives a row belongs to ("--json | --csv").
const LongOption *Alternatives(const LongOption *o) {
  while (o != kLongOptions && o->usage == kUsageOr)
    --o;
  return o;
}

// What may follow the options used, as the table has it: each option once
// but the repeatable ones, one of alternatives, and the classic words.
std::set<std::string>
OptionsAfter(const std::vector<const LongOption *> &used) {
  std::set<std::string> offered = {"-d", "-v", "-\\?"};
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    bool taken = false;
    for (const LongOption *u : used)
      taken = taken || (u == o && o->kind != kOptionList) ||
              (u != o && Alternatives(u) == Alternatives(o));
    if (used.empty() || (o->kind != kOptionStop && !taken))
      offered.insert(o->word);
  }
  return offered;
}

TEST(OptionTable, TheCompletionOffersEveryOption) {
  std::vector<std::string> lines = {"quelvo -"};
  std::vector<std::set<std::string>> expected = {OptionsAfter({})};
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    std::string word = o->word;
    switch (o->kind) {
    case kOptionFlag:
      lines.push_back("quelvo " + word + " -");
      expected.push_back(OptionsAfter({o}));
      break;
    case kOptionValue:
    case kOptionList:
      // The value is the next word, never an option: its own names, a
      // file's or a folder's.
      lines.push_back("quelvo " + word + " -");
      expected.push_back({});
      lines.push_back("quelvo " + word + " x -");
      expected.push_back(OptionsAfter({o}));
      break;
    case kOptionStop:
      lines.push_back("quelvo " + word + " -");
      expected.push_back({});
      break;
    case kOptionEnd:
      lines.push_back("quelvo --all " + word + " -");
      expected.push_back({});
      break;
    }
  }
  // --lint-ignore's values: the lint table's rules.
  lines.push_back("quelvo --lint-ignore QV");
  std::set<std::string> rules;
  for (int rule = 1; rule <= kLintRuleCount; ++rule)
    rules.insert(LintRuleId(rule));
  expected.push_back(rules);
  std::vector<std::set<std::string>> offers;
  if (!CompletionOffers(lines, &offers))
    GTEST_SKIP() << "there is no bash to ask";
  ASSERT_EQ(offers.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(offers[i], expected[i]) << lines[i];
}

// The long options an mdoc line names with Fl, each with whether an Ar
// follows it (it takes a value).
void ManFlags(std::string line,
              std::vector<std::pair<std::string, bool>> *out) {
  for (size_t at; (at = line.find("\\-")) != std::string::npos;)
    line.replace(at, 2, "-");
  for (size_t at; (at = line.find("\\&")) != std::string::npos;)
    line.erase(at, 2);
  std::istringstream words(line);
  std::string word;
  bool inFlags = false, afterFlag = false;
  while (words >> word) {
    if (word[0] == '.')
      word.erase(0, 1);
    bool macro = word.size() == 2 && isupper(word[0]) && islower(word[1]);
    if (macro) {
      if (word == "Ar" && afterFlag)
        out->back().second = true;
      inFlags = word == "Fl";
    } else if (inFlags && word != "|" && word != ",") {
      std::string flag = "-" + word;
      if (flag.compare(0, 2, "--") == 0) {
        out->push_back({flag, false});
        afterFlag = true;
        continue;
      }
    }
    afterFlag = false;
  }
}

// The synopsis and the option list of the manual page name every option
// of the table, and no other, each with a value where it takes one; an
// option's entry says what it implies.
TEST(OptionTable, TheManualPageListsEveryOption) {
  std::istringstream page(ReadFile(QUELVO_MAN_PAGE));
  std::string line, section;
  std::vector<std::pair<std::string, bool>> synopsis, items;
  std::map<std::string, std::string> itemText; // by option, joined
  std::vector<std::string> current;            // the open item's options
  while (std::getline(page, line)) {
    if (line.compare(0, 4, ".Sh ") == 0) {
      section = line.substr(4);
      current.clear();
      continue;
    }
    if (section == "SYNOPSIS") {
      ManFlags(line, &synopsis);
    } else if (section == "DESCRIPTION" && line.compare(0, 4, ".It ") == 0) {
      current.clear();
      std::vector<std::pair<std::string, bool>> named;
      ManFlags(line, &named);
      for (const auto &n : named)
        current.push_back(n.first);
      items.insert(items.end(), named.begin(), named.end());
    } else {
      for (const std::string &word : current)
        itemText[word] += line + " ";
    }
  }
  std::map<std::string, bool> table;
  for (const LongOption *o = kLongOptions; o != kEnd; ++o)
    table[o->word] = TakesValue(*o);
  for (const auto *named : {&synopsis, &items}) {
    std::map<std::string, bool> listed(named->begin(), named->end());
    EXPECT_EQ(listed.size(), named->size()) << "an option named twice";
    EXPECT_EQ(listed, table);
  }
  for (const LongOption *o = kLongOptions; o != kEnd; ++o) {
    bool says = itemText[o->word].find("Implies .Fl \\-") != std::string::npos;
    EXPECT_EQ(says, o->implies != nullptr) << o->word;
    if (o->implies == nullptr)
      continue;
    // Fl writes the first hyphen.
    std::string implied = o->implies + 1;
    std::string escaped = "Implies .Fl ";
    for (char c : implied)
      escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(itemText[o->word].find(escaped + " "), std::string::npos)
        << o->word;
  }
}

} // namespace
