#include "engine/dump_details.h"

#include <algorithm>
#include <initializer_list>

#include "engine/record_block.h"

// A fixed text is given to a string as a new string
// (`text = std::u16string(u"…")`), never as a bare literal: for the
// literal's assignment GCC 12 on s390x warns of an overlapping copy that
// cannot happen (-Wrestrict), an error under warnings-as-errors.

namespace dumpscan {
namespace {

void AppendHex(std::uint32_t value, int digits, std::u16string& out) {
  constexpr std::u16string_view kDigits = u"0123456789ABCDEF";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// "1,932": thousands grouped with commas, as the page's English text writes
// byte positions.
void AppendGrouped(std::uint64_t n, std::u16string& out) {
  std::u16string digits;
  AppendDecimal(n, digits);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += u',';
    out += digits[i];
  }
}

// The texts one after another. Used instead of u"literal" + std::u16string,
// for which GCC 12 gives a false -Wrestrict warning when it inlines it.
std::u16string Cat(std::initializer_list<std::u16string_view> texts) {
  std::u16string text;
  for (const std::u16string_view t : texts) text += t;
  return text;
}

std::u16string Decimal(std::uint64_t n) {
  std::u16string text;
  AppendDecimal(n, text);
  return text;
}

// "1", "1 and 2", "1, 2 and 3".
std::u16string Listed(const std::vector<std::u16string>& items) {
  std::u16string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? u" and " : u", ";
    text += items[i];
  }
  return text;
}

// "Record 3", "Records 1, 2 and 4".
std::u16string RecordsWord(const std::vector<std::size_t>& numbers) {
  std::vector<std::u16string> items;
  items.reserve(numbers.size());
  for (const std::size_t n : numbers) items.push_back(Decimal(n));
  std::u16string text = numbers.size() == 1 ? u"Record " : u"Records ";
  text += Listed(items);
  return text;
}

// Each test a record fails, in words.
std::vector<std::u16string> RecordProblems(const RecordFacts& record) {
  std::vector<std::u16string> problems;
  if (!record.checksum_passes) {
    std::u16string problem = u"check nibble ";
    AppendHex(record.stored_check, 1, problem);
    problem += u", its value gives ";
    AppendHex(record.value_check, 1, problem);
    problems.push_back(std::move(problem));
  }
  if (!record.parity_passes) {
    std::u16string problem = u"step byte ";
    AppendHex(record.step_byte, 2, problem);
    problem += u" has even parity";
    problems.push_back(std::move(problem));
  }
  return problems;
}

std::u16string Joined(const std::vector<std::u16string>& parts, std::u16string_view between) {
  std::u16string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += between;
    text += parts[i];
  }
  return text;
}

std::u16string CounterProblem(const CounterWordFacts& word) {
  std::u16string problem = u"check nibble ";
  AppendHex(word.stored_check, 1, problem);
  problem += u", its count gives ";
  AppendHex(word.count_check, 1, problem);
  return problem;
}

std::u16string Bytes(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  AppendByteDump(bytes, text);
  if (!text.empty()) text.pop_back();  // the dump ends in a space
  return text;
}

std::u16string Checks(std::uint8_t stored, std::uint8_t computed) {
  std::u16string text;
  AppendHex(stored, 1, text);
  text += u", ";
  AppendHex(computed, 1, text);
  return text;
}

std::u16string Gives(std::u16string_view kilometres, bool passes) {
  std::u16string text(kilometres);
  text += passes ? u" km" : u" km (untrusted)";
  return text;
}

std::u16string Result(const std::vector<std::u16string>& problems) {
  if (problems.empty()) return u"passes";
  std::u16string text = u"fails: ";
  text += Joined(problems, u"; ");
  return text;
}

DetailsRow RecordRow(const RecordFacts& record, std::size_t i) {
  DetailsRow row;
  row.label = Cat({u"Record ", Decimal(i + 1)});
  row.passes = record.passes;
  auto cell = [&](DetailsColumn column) -> std::u16string& {
    return row.cells[static_cast<std::size_t>(column)];
  };
  cell(DetailsColumn::kBytes) = Bytes(record.bytes);
  cell(DetailsColumn::kValue) = Decimal(record.value);
  cell(DetailsColumn::kCheck) = Checks(record.stored_check, record.value_check);
  AppendHex(record.step_byte, 2, cell(DetailsColumn::kStepByte));
  cell(DetailsColumn::kStepByte) += record.odd_parity ? u", odd" : u", even";
  cell(DetailsColumn::kSteps) = Decimal(record.steps);
  cell(DetailsColumn::kGives) = Gives(Decimal(record.distance), record.passes);
  cell(DetailsColumn::kResult) = Result(RecordProblems(record));
  row.bad[static_cast<std::size_t>(DetailsColumn::kCheck)] = !record.checksum_passes;
  row.bad[static_cast<std::size_t>(DetailsColumn::kStepByte)] = !record.parity_passes;
  return row;
}

DetailsRow CounterWordRow(const CounterWordFacts& word) {
  DetailsRow row;
  row.label = std::u16string(u"Counter word");
  row.passes = word.passes;
  auto cell = [&](DetailsColumn column) -> std::u16string& {
    return row.cells[static_cast<std::size_t>(column)];
  };
  cell(DetailsColumn::kBytes) = Bytes(word.bytes);
  cell(DetailsColumn::kValue) = Decimal(word.count);
  cell(DetailsColumn::kCheck) = Checks(word.stored_check, word.count_check);
  cell(DetailsColumn::kStepByte) = std::u16string(u"\u2014");
  cell(DetailsColumn::kSteps) = std::u16string(u"\u2014");
  cell(DetailsColumn::kGives) = Gives(word.kilometres_text.View(), word.passes);
  cell(DetailsColumn::kResult) =
      word.passes ? std::u16string(u"passes") : Cat({u"fails: ", CounterProblem(word)});
  row.bad[static_cast<std::size_t>(DetailsColumn::kCheck)] = !word.passes;
  return row;
}

// What the record block's records say, for the sentence.
void SayRecordBlock(const RecordBlockFacts& block, std::vector<std::u16string>& parts) {
  struct Kind {
    std::u16string_view one;
    std::u16string_view many;
    bool checksum_passes;
    bool parity_passes;
  };
  constexpr std::array<Kind, 3> kKinds = {{
      {u"fails its checksum", u"fail their checksums", false, true},
      {u"fails its parity test", u"fail their parity tests", true, false},
      {u"fails both its checksum and its parity test",
       u"fail both their checksums and their parity tests", false, false},
  }};
  for (const Kind& kind : kKinds) {
    std::vector<std::size_t> numbers;
    for (std::size_t i = 0; i < kRecordCount; ++i) {
      const RecordFacts& r = block.records[i];
      if (r.checksum_passes == kind.checksum_passes && r.parity_passes == kind.parity_passes)
        numbers.push_back(i + 1);
    }
    if (numbers.empty()) continue;
    parts.push_back(
        Cat({RecordsWord(numbers), u" ", numbers.size() == 1 ? kind.one : kind.many, u"."}));
  }

  std::vector<std::size_t> passing;
  std::vector<std::u16string> gives;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    const RecordFacts& r = block.records[i];
    if (!r.passes) continue;
    passing.push_back(i + 1);
    gives.push_back(Decimal(r.distance));
    sum += r.distance;
  }
  const bool same = std::all_of(gives.begin(), gives.end(),
                                [&](const std::u16string& g) { return g == gives.front(); });
  std::u16string part;
  if (passing.empty()) {
    part = std::u16string(u"No record passes, so the record block gives no distance.");
  } else if (passing.size() == kRecordCount) {
    if (same) {
      part = Cat({u"All five records pass; each gives ", gives.front(), u" km."});
    } else {
      // The report's distance is DecodeRecordBlock's: the mean, rounded down.
      part = Cat({u"All five records pass but differ: they give ", Listed(gives),
                  u" km; the report takes their average",
                  sum % kRecordCount != 0 ? u", rounded down, " : u", ",
                  Decimal(static_cast<std::uint64_t>(block.distance)), u" km."});
    }
  } else {
    part = Cat({RecordsWord(passing), passing.size() == 1 ? u" passes" : u" pass"});
    if (passing.size() == 1) {
      part += Cat({u"; it gives ", gives.front(), u" km."});
    } else if (same) {
      part += Cat({u"; each gives ", gives.front(), u" km."});
    } else {
      part += Cat({u"; they give ", Listed(gives), u" km."});
    }
  }
  parts.push_back(std::move(part));
}

}  // namespace

DumpDetails DumpDetailsOf(std::span<const std::uint8_t, kDumpBytesSize> bytes, std::size_t got,
                          bool readable) {
  DumpDetails details;
  if (!readable) {
    details.sentence = std::u16string(u"The file could not be read, so neither form was checked.");
    return details;
  }
  const DumpFacts facts = DumpFactsOf(bytes, got);
  if (!facts.has_record_block) {
    details.sentence = std::u16string(u"The file ends before byte ");
    AppendGrouped(kRecordBlockEnd, details.sentence);
    details.sentence += u": it holds neither the record block nor the counter word.";
    return details;
  }

  std::vector<std::u16string> parts;
  SayRecordBlock(facts.record_block, parts);
  const CounterWordFacts& word = facts.counter_word;
  std::u16string part;
  if (!facts.has_counter_word) {
    part = std::u16string(u"The file ends before byte ");
    AppendGrouped(kCounterWordEnd, part);
    part += u", so it has no counter word.";
  } else if (word.passes) {
    part = std::u16string(u"The counter word passes: ");
    part += word.kilometres_text.View();
    part += u" km.";
  } else {
    part = Cat({u"The counter word fails its checksum (", CounterProblem(word),
                u"); its count would stand for ", word.kilometres_text.View(), u" km."});
  }
  parts.push_back(std::move(part));
  details.sentence = Joined(parts, u" ");

  for (std::size_t i = 0; i < kRecordCount; ++i) {
    const RecordFacts& record = facts.record_block.records[i];
    details.rows.push_back(RecordRow(record, i));
    if (record.passes) continue;
    const LineSpan at = RecordBytesInLine(i);
    details.marks.push_back(
        {at.offset, at.length,
         Cat({details.rows.back().label, u": ", Joined(RecordProblems(record), u"; ")})});
  }
  if (facts.has_counter_word) details.rows.push_back(CounterWordRow(word));
  return details;
}

}  // namespace dumpscan
