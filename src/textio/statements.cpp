// The statement drivers: a write or read of values on one unit through a
// layout string or as a free-form record.
//
// A layout string is followed item by item; each data item takes the next
// value. When the values run out, the items up to the next data item are
// still carried out (texts, X, slashes), so "(' initial LH=',e15.8)" writes its
// text before its value and "(10X,' Parameter',7X,'Step')" writes the whole
// record with no values. When the end of the layout is reached with values
// left, the record ends and the layout starts again from its beginning.
#include "textio/statements.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <ostream>
#include <unordered_map>
#include <vector>

#include "textio/edit.h"
#include "textio/layout.h"
#include "textio/termination.h"
#include "textio/unit_state.h"

namespace segmix {

namespace {

enum class ValueType : std::uint8_t { kInteger, kReal, kCharacter };

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::kInteger:
      return "INTEGER";
    case ValueType::kReal:
      return "REAL";
    case ValueType::kCharacter:
      return "CHARACTER";
  }
  return "";
}

ValueType ItemType(EditKind kind) {
  switch (kind) {
    case EditKind::kInteger:
      return ValueType::kInteger;
    case EditKind::kCharacter:
      return ValueType::kCharacter;
    default:
      return ValueType::kReal;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What every statement shares: its unit, its place in the program, its layout
// and the walk through the layout's items.
struct StatementBase {
  // Sets the statement up afresh; the object may have served an earlier
  // statement, whose buffers it keeps for their capacity.
  // `parsed` is the statement's layout, or none for a free-form record.
  void Begin(TextUnits& units_in, int unit_in, const Layout* parsed,
             std::source_location where_in) {
    units = &units_in;
    unit = unit_in;
    where = where_in;
    state = nullptr;
    layout = nullptr;
    position = 0;
    copies = 0;
    item_count = 0;
    if (unit != kConsole) {
      state = units->Find(unit);
      if (state == nullptr) {
        Fail("Unit " + std::to_string(unit) + " is not connected to a file",
             TerminationKind::kUnreadable);
      }
    }
    free_form = parsed == nullptr;
    layout = parsed;
    if (!free_form && !layout->error.empty()) Fail(layout->error);
  }

  [[noreturn]] void Fail(
      const std::string& message,
      TerminationKind kind = TerminationKind::kMalformed) const {
    std::string locus = LocusOf(where);
    if (state != nullptr) {
      locus += " (Unit " + std::to_string(unit) + " \"" + state->name + "\")";
    }
    throw TextIoError(std::move(locus), message, kind);
  }

  [[noreturn]] void FailOs(int error_number) const {
    Fail(std::strerror(error_number != 0 ? error_number : EIO),
         TerminationKind::kUnreadable);
  }

  // The data item for the next value; carries out the items before it and,
  // at the end of the layout, begins a new record through `new_record`.
  template <typename NewRecord, typename Execute>
  const EditItem& NextDataItem(ValueType type, NewRecord&& new_record,
                               Execute&& execute) {
    if (!layout->has_data_item) Fail("Exhausted data descriptors in format");
    for (;;) {
      if (position == layout->items.size()) {
        new_record();
        position = 0;
        copies = 0;
      }
      const EditItem& item = layout->items[position];
      if (!item.IsData()) {
        execute(item);
        ++position;
        continue;
      }
      if (++copies == item.repeat) {
        ++position;
        copies = 0;
      }
      if (ItemType(item.kind) != type) {
        Fail(std::string("Expected ") + TypeName(ItemType(item.kind)) +
             " for item " + std::to_string(item_count) +
             " in formatted transfer, got " + TypeName(type));
      }
      return item;
    }
  }

  // At the end of the values: the items up to the next data item.
  template <typename Execute>
  void FinishLayout(Execute&& execute) {
    if (free_form || copies != 0) return;
    while (position < layout->items.size() &&
           !layout->items[position].IsData()) {
      execute(layout->items[position]);
      ++position;
    }
  }

  TextUnits* units = nullptr;
  int unit = 0;
  UnitState* state = nullptr;
  std::source_location where;
  bool free_form = true;
  const Layout* layout = nullptr;  // owned by the pool; none when free form
  std::size_t position = 0;        // next item of the layout
  std::int32_t copies = 0;         // copies of the current data item used
  std::int32_t item_count = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Output

struct WriteStatement::Impl : StatementBase {
  void Begin(TextUnits& units_in, int unit_in, const Layout* parsed,
             std::source_location where_in) {
    record.clear();
    column = 0;
    last_character = false;
    StatementBase::Begin(units_in, unit_in, parsed, where_in);
  }

  void Put(std::string_view text) {
    if (record.size() < column + text.size())
      record.resize(column + text.size(), ' ');
    record.replace(column, text.size(), text);
    column += text.size();
  }

  void EmitRecord() {
    if (state == nullptr) {
      units->Console().write(record.data(),
                             static_cast<std::streamsize>(record.size()));
      units->Console().put('\n');
    } else if (!state->WriteRecord(record)) {
      FailOs(state->error_number);
    }
    record.clear();
    column = 0;
  }

  void Execute(const EditItem& item) {
    switch (item.kind) {
      case EditKind::kSkip:
        column += static_cast<std::size_t>(item.repeat);
        break;
      case EditKind::kSlash:
        for (std::int32_t k = 0; k < item.repeat; ++k) EmitRecord();
        break;
      case EditKind::kText:
        Put(item.text);
        break;
      default:
        break;
    }
  }

  const EditItem& Next(ValueType type) {
    ++item_count;
    return NextDataItem(
        type, [this] { EmitRecord(); },
        [this](const EditItem& item) { Execute(item); });
  }

  // Free-form: one blank begins the record and one separates two values,
  // except between two character values.
  void BeginFreeValue(bool character) {
    ++item_count;
    if (item_count == 1 || !(character && last_character)) record += ' ';
    last_character = character;
  }

  template <typename Real>
  void WriteReal(Real value) {
    if (free_form) {
      BeginFreeValue(false);
      AppendShortestReal(value, record);
      return;
    }
    const EditItem& item = Next(ValueType::kReal);
    if (item.kind == EditKind::kExponent) {
      EditExponent(static_cast<double>(value), item.width, item.digits, field);
    } else {
      EditFixed(static_cast<double>(value), item.width, item.digits, field);
    }
    Put(field);
  }

  std::string record;
  std::string field;  // the edited text of the current value
  std::size_t column = 0;
  bool last_character = false;
};

// Statement objects and parsed layouts kept for reuse by later statements on
// the same unit table: after the first statement of each kind, writing a
// record allocates nothing (the likelihood writes one per evaluation).
class StatementPool {
 public:
  // The parsed layout string, parsed on its first use; none for "".
  const Layout* Parsed(std::string_view text) {
    if (text.empty()) return nullptr;
    const auto it = layouts_.find(text);
    if (it != layouts_.end()) return &it->second;
    return &layouts_.emplace(std::string(text), ParseLayout(text))
                .first->second;
  }

  template <typename Impl>
  static std::unique_ptr<Impl> Take(std::vector<std::unique_ptr<Impl>>& spare) {
    if (spare.empty()) return std::make_unique<Impl>();
    std::unique_ptr<Impl> impl = std::move(spare.back());
    spare.pop_back();
    return impl;
  }

  template <typename Impl>
  static void Give(std::vector<std::unique_ptr<Impl>>& spare,
                   std::unique_ptr<Impl>& impl) noexcept {
    if (impl == nullptr) return;
    try {
      spare.push_back(std::move(impl));
    } catch (...) {
      impl.reset();  // no room to keep it: just free it
    }
  }

  std::vector<std::unique_ptr<WriteStatement::Impl>> writes;
  std::vector<std::unique_ptr<ReadStatement::Impl>> reads;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  std::unordered_map<std::string, Layout, Hash, std::equal_to<>> layouts_;
};

void StatementPoolDeleter::operator()(StatementPool* pool) const {
  delete pool;
}

StatementPool& TextUnits::Pool() {
  if (pool_ == nullptr) pool_.reset(new StatementPool);
  return *pool_;
}

WriteStatement::WriteStatement(TextUnits& units, int unit,
                               std::string_view layout,
                               std::source_location where)
    : units_(units), impl_(StatementPool::Take(units.Pool().writes)) {
  impl_->Begin(units, unit, units.Pool().Parsed(layout), where);
}

WriteStatement::~WriteStatement() {
  StatementPool::Give(units_.Pool().writes, impl_);
}

WriteStatement& WriteStatement::operator<<(std::int32_t value) {
  Impl& s = *impl_;
  if (s.free_form) {
    s.BeginFreeValue(false);
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    s.record.append(buf, r.ptr);
  } else {
    const EditItem& item = s.Next(ValueType::kInteger);
    EditInteger(value, item.width, s.field);
    s.Put(s.field);
  }
  return *this;
}

WriteStatement& WriteStatement::operator<<(float value) {
  impl_->WriteReal(value);
  return *this;
}

WriteStatement& WriteStatement::operator<<(double value) {
  impl_->WriteReal(value);
  return *this;
}

WriteStatement& WriteStatement::operator<<(std::string_view text) {
  Impl& s = *impl_;
  if (s.free_form) {
    s.BeginFreeValue(true);
    s.record += text;
  } else {
    const EditItem& item = s.Next(ValueType::kCharacter);
    EditCharacter(text, item.width, s.field);
    s.Put(s.field);
  }
  return *this;
}

void WriteStatement::End() {
  impl_->FinishLayout([this](const EditItem& item) { impl_->Execute(item); });
  impl_->EmitRecord();
  if (impl_->state != nullptr && !impl_->state->EndWriteStatement()) {
    impl_->FailOs(impl_->state->error_number);
  }
}

// ---------------------------------------------------------------------------
// Input

struct ReadStatement::Impl : StatementBase {
  void Begin(TextUnits& units_in, int unit_in, const Layout* parsed,
             std::source_location where_in) {
    column = 0;
    slash_seen = false;
    comma_between_digits = false;
    last_outcome = Outcome::kStored;
    any_value = false;
    comma_since_value = false;
    repeat_left = 0;
    repeat_null = false;
    StatementBase::Begin(units_in, unit_in, parsed, where_in);
    if (state == nullptr) Fail("Cannot read from the console");
    NextRecord();  // every read statement consumes at least one record
  }

  void NextRecord() {
    const UnitState::ReadOutcome outcome = state->ReadRecord(record);
    if (outcome != UnitState::ReadOutcome::kRecord) FailRecord(outcome);
    column = 0;
  }

  [[noreturn]] void FailRecord(UnitState::ReadOutcome outcome) const {
    if (outcome == UnitState::ReadOutcome::kEndOfFile) Fail("End of file");
    if (outcome == UnitState::ReadOutcome::kTooLong) {
      Fail("Record " + std::to_string(state->records_read) +
           " is longer than " + std::to_string(UnitState::kMaxRecordLength) +
           " characters (64 MiB); a text file of the program has lines of"
           " ordinary length. Check that the file named is the right one");
    }
    FailOs(state->error_number);
  }

  // ---- fixed layout

  // The next `width` columns; a field reaching past the end of the record
  // holds what the record still has (the missing columns are blanks).
  std::string_view Field(std::int32_t width) {
    const std::size_t w = static_cast<std::size_t>(width);
    std::string_view field;
    if (column < record.size())
      field = std::string_view(record).substr(column, w);
    column += w;
    return field;
  }

  void Execute(const EditItem& item) {
    switch (item.kind) {
      case EditKind::kSkip:
        column += static_cast<std::size_t>(item.repeat);
        break;
      case EditKind::kSlash:
        for (std::int32_t k = 0; k < item.repeat; ++k) NextRecord();
        break;
      case EditKind::kText:
        Fail("Constant string in input format");
      default:
        break;
    }
  }

  const EditItem& Next(ValueType type) {
    return NextDataItem(
        type, [this] { NextRecord(); },
        [this](const EditItem& item) { Execute(item); });
  }

  // ---- free form

  // The character that begins the next value, reading on across record ends.
  char PeekNonBlank() {
    for (;;) {
      while (column < record.size() && IsBlank(record[column])) ++column;
      if (column < record.size()) return record[column];
      NextRecord();
    }
  }

  bool AtSeparator() const {
    if (column >= record.size()) return true;
    const char c = record[column];
    return IsBlank(c) || c == ',' || c == '/';
  }

  std::string UnquotedToken() {
    const std::size_t begin = column;
    while (!AtSeparator()) ++column;
    return record.substr(begin, column - begin);
  }

  // A delimited character value; it may go on over record ends, which are
  // not part of it. A doubled delimiter stands for one.
  std::string QuotedToken() {
    const char quote = record[column++];
    std::string text;
    for (;;) {
      if (column >= record.size()) {
        NextRecord();
        continue;
      }
      const char c = record[column++];
      if (c != quote) {
        text.push_back(c);
      } else if (column < record.size() && record[column] == quote) {
        text.push_back(quote);
        ++column;
      } else {
        return text;
      }
    }
  }

  std::string Token(bool character) {
    if (character && (record[column] == '\'' || record[column] == '"')) {
      return QuotedToken();
    }
    return UnquotedToken();
  }

  // Takes the next free-form value for an item of the given kind. False when
  // the item keeps its contents: a null value, or the statement ended by a
  // slash.
  bool NextValue(bool character, std::string& text) {
    ++item_count;
    last_outcome = Outcome::kAfterSlash;
    if (slash_seen) return false;
    last_outcome = Outcome::kNullValue;
    if (repeat_left > 0) {
      --repeat_left;
      if (repeat_null) return false;
      text = repeat_text;
      last_outcome = Outcome::kStored;
      return true;
    }
    char c = PeekNonBlank();
    if (c == ',') {
      if (column > 0 && IsDigit(record[column - 1]) &&
          column + 1 < record.size() && IsDigit(record[column + 1])) {
        comma_between_digits = true;
      }
      ++column;
      const bool separator = any_value && !comma_since_value;
      comma_since_value = true;
      if (!separator) {
        any_value = true;
        return false;  // null value
      }
      c = PeekNonBlank();
      if (c == ',') {
        ++column;
        return false;  // null value after the separator
      }
    }
    if (c == '/') {
      ++column;
      slash_seen = true;
      last_outcome = Outcome::kAfterSlash;
      return false;
    }
    last_outcome = Outcome::kStored;
    any_value = true;
    comma_since_value = false;

    // r*c and r*: a repeat count is digits directly followed by "*".
    std::size_t digits_end = column;
    while (digits_end < record.size() && record[digits_end] >= '0' &&
           record[digits_end] <= '9') {
      ++digits_end;
    }
    if (digits_end > column && digits_end < record.size() &&
        record[digits_end] == '*') {
      std::int64_t repeat = 0;
      for (std::size_t k = column; k < digits_end; ++k) {
        repeat = repeat * 10 + (record[k] - '0');
        if (repeat > kMaxRepeat) {
          Fail("Repeat count overflow in item " + std::to_string(item_count) +
               " of list input");
        }
      }
      if (repeat == 0) {
        Fail("Zero repeat count in item " + std::to_string(item_count) +
             " of list input");
      }
      column = digits_end + 1;
      if (column < record.size() && record[column] == '*') {
        Fail("Bad repeat count in item " + std::to_string(item_count) +
             " of list input");
      }
      repeat_left = static_cast<std::int32_t>(repeat) - 1;
      if (AtSeparator()) {
        repeat_null = true;
        last_outcome = Outcome::kNullValue;
        return false;
      }
      repeat_null = false;
      repeat_text = Token(character);
      text = repeat_text;
      return true;
    }
    text = Token(character);
    return true;
  }

  [[noreturn]] void FailItem(const char* before, const char* after) const {
    Fail(before + std::to_string(item_count) + after);
  }

  // The first value after the statement's last one: reads on over record
  // ends to the end of the file. Only blanks, commas and slashes are no value.
  std::string LeftOverValue() {
    if (repeat_left > 0 && !repeat_null) return repeat_text;
    for (;;) {
      while (column < record.size() &&
             (IsBlank(record[column]) || record[column] == ',' ||
              record[column] == '/')) {
        ++column;
      }
      if (column < record.size()) return UnquotedToken();
      const UnitState::ReadOutcome outcome = state->ReadRecord(record);
      column = 0;
      if (outcome == UnitState::ReadOutcome::kEndOfFile) return {};
      if (outcome != UnitState::ReadOutcome::kRecord) FailRecord(outcome);
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  static constexpr std::int64_t kMaxRepeat = 200'000'000;

  std::string record;
  std::size_t column = 0;
  bool slash_seen = false;
  bool comma_between_digits = false;
  Outcome last_outcome = Outcome::kStored;
  bool any_value = false;
  bool comma_since_value = false;
  std::int32_t repeat_left = 0;
  bool repeat_null = false;
  std::string repeat_text;
  std::string token;
};

ReadStatement::ReadStatement(TextUnits& units, int unit,
                             std::string_view layout,
                             std::source_location where)
    : units_(units), impl_(StatementPool::Take(units.Pool().reads)) {
  impl_->Begin(units, unit, units.Pool().Parsed(layout), where);
}

ReadStatement::~ReadStatement() {
  StatementPool::Give(units_.Pool().reads, impl_);
}

ReadStatement& ReadStatement::operator>>(std::int32_t& value) {
  Impl& s = *impl_;
  if (s.free_form) {
    if (!s.NextValue(false, s.token)) return *this;
    std::int32_t parsed = 0;
    switch (ReadIntegerField(s.token, true, parsed)) {
      case InputResult::kOk:
        value = parsed;
        break;
      case InputResult::kBad:
        s.FailItem("Bad integer for item ", " in list input");
      case InputResult::kOverflow:
        s.FailItem("Integer overflow while reading item ", "");
    }
    return *this;
  }
  ++s.item_count;
  const EditItem& item = s.Next(ValueType::kInteger);
  std::int32_t parsed = 0;
  switch (ReadIntegerField(s.Field(item.width), false, parsed)) {
    case InputResult::kOk:
      value = parsed;
      break;
    case InputResult::kBad:
      s.Fail("Bad value during integer read");
    case InputResult::kOverflow:
      s.Fail("Value overflowed during integer read");
  }
  return *this;
}

ReadStatement& ReadStatement::operator>>(float& value) {
  ReadReal(value);
  return *this;
}

ReadStatement& ReadStatement::operator>>(double& value) {
  ReadReal(value);
  return *this;
}

template <typename T>
void ReadStatement::ReadReal(T& value) {
  Impl& s = *impl_;
  T parsed{};
  if (s.free_form) {
    if (!s.NextValue(false, s.token)) return;
    if (ReadRealField(s.token, 0, false, parsed) != InputResult::kOk) {
      s.FailItem("Bad real number in item ", " of list input");
    }
    value = parsed;
    return;
  }
  ++s.item_count;
  const EditItem& item = s.Next(ValueType::kReal);
  if (ReadRealField(s.Field(item.width), item.digits, true, parsed) !=
      InputResult::kOk) {
    s.Fail("Bad value during floating point read");
  }
  value = parsed;
}

ReadStatement& ReadStatement::Text(std::string& value, std::size_t length) {
  Impl& s = *impl_;
  if (s.free_form) {
    if (!s.NextValue(true, s.token)) return *this;
    value = s.token;
    value.resize(length, ' ');
    return *this;
  }
  ++s.item_count;
  const EditItem& item = s.Next(ValueType::kCharacter);
  const std::size_t width =
      item.width > 0 ? static_cast<std::size_t>(item.width) : length;
  std::string field(s.Field(static_cast<std::int32_t>(width)));
  field.resize(width, ' ');
  if (width >= length) {
    value = field.substr(width - length);
  } else {
    value = field;
    value.resize(length, ' ');
  }
  return *this;
}

ReadStatement::Outcome ReadStatement::LastOutcome() const {
  return impl_->last_outcome;
}

std::string ReadStatement::LeftOverValue() { return impl_->LeftOverValue(); }

bool ReadStatement::CommaBetweenDigits() const {
  return impl_->comma_between_digits;
}

std::int64_t ReadStatement::RecordNumber() const {
  return impl_->state->records_read;
}

void ReadStatement::End() {
  impl_->FinishLayout([this](const EditItem& item) { impl_->Execute(item); });
}

}  // namespace segmix
