#include "sky/catalogue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>

#include "sky/vec3.h"

namespace sky {
namespace {

// Lines of the input, 1-based numbers, without their LF or CRLF.
class Lines {
 public:
  explicit Lines(std::string_view bytes) : rest_(bytes) {
    if (rest_.substr(0, 3) == "\xEF\xBB\xBF") rest_.remove_prefix(3);  // a UTF-8 byte order mark
  }
  bool Next(std::string_view& line) {
    if (rest_.empty()) return false;
    const std::size_t end = rest_.find('\n');
    line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number_;
    return true;
  }
  std::size_t Number() const { return number_; }

 private:
  std::string_view rest_;
  std::size_t number_ = 0;
};

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}
bool IsComment(std::string_view line) { return !line.empty() && line[0] == '#'; }

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

[[noreturn]] void Fail(std::size_t line, std::string message) { throw CatalogueError{line, std::move(message)}; }

// A magnitude or colour index as the float it is kept in. Real values lie
// within a few tens; beyond +-1000 a number is no star's (and far enough
// beyond would not even be a float: 9e99 reads as a finite double).
float Photometric(double value, std::size_t line, std::size_t column, const char* what) {
  if (!(std::fabs(value) <= 1000)) {
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", value);
    Fail(line, "column " + std::to_string(column) + ": " + what + " " + shown + " out of range [-1000, 1000]");
  }
  return static_cast<float>(value);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal ("-12.345", "+7", "08.92"): the whole of `text`. Up to 15
// digits the value is the digits as an integer divided by a power of ten,
// both exact, so the one rounding of the division gives the correctly rounded
// value, the same bits as std::from_chars, at a fraction of its cost; longer
// numbers and exponents go to std::from_chars itself. False when `text` is
// not a finite number.
bool ParseDecimal(std::string_view text, double& out) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  std::uint64_t mantissa = 0;
  int digits = 0, fractionDigits = 0;
  bool point = false, simple = true;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
      fractionDigits += point;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      simple = false;
      break;
    }
  }
  if (simple && digits > 0 && digits <= 15) {
    const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    out = negative ? -magnitude : magnitude;
    return true;
  }
  // Exponents, long digit strings, or not a number at all.
  const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  if (begin == end || !(IsDigit(*begin) || *begin == '-' || *begin == '.')) return false;
  double value = 0;
  const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
  if (ec != std::errc() || stop != end || !std::isfinite(value)) return false;
  out = value;
  return true;
}

// ---- KStars stars.dat ---------------------------------------------------

// The fixed-column shape of a data line: hhmmss.ss, a space, a signed Dec.
bool LooksLikeKStarsData(std::string_view line) {
  if (line.size() < 19) return false;
  for (int i : {0, 1, 2, 3, 4, 5, 7, 8})
    if (!IsDigit(line[i])) return false;
  return line[6] == '.' && line[9] == ' ' && (line[10] == '+' || line[10] == '-');
}

bool IsKStarsHeader(std::string_view line) {
  return IsComment(line) && line.find("pmRA") != std::string_view::npos &&
         line.find("pmDEC") != std::string_view::npos;
}

// One field of a KStars line: its columns, what it is, the line it is on.
class KStarsLine {
 public:
  KStarsLine(std::string_view text, std::size_t number) : text_(text), number_(number) {}

  // A number in columns [first, first + width): an optional sign ('+' too),
  // spaces, then a decimal filling the rest of the field.
  double Number(std::size_t first, std::size_t width, const char* what) const {
    const std::string_view field = text_.substr(first, width);
    std::string_view digits = field;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
      negative = digits[0] == '-';
      digits.remove_prefix(1);
    }
    while (!digits.empty() && digits[0] == ' ') digits.remove_prefix(1);
    double value = 0;
    if (digits.empty() || digits[0] == '-' || digits[0] == '+' || !ParseDecimal(digits, value))
      Fail(number_, "column " + std::to_string(first + 1) + ": " + what + " is not a number: '" +
                        std::string(field) + "'");
    return negative ? -value : value;
  }

  // Two digits at a column, below `limit`.
  int TwoDigits(std::size_t first, int limit, const char* what) const {
    const char a = text_[first], b = text_[first + 1];
    if (!IsDigit(a) || !IsDigit(b))
      Fail(number_, "column " + std::to_string(first + 1) + ": " + what + " is not two digits: '" +
                        std::string(text_.substr(first, 2)) + "'");
    const int v = (a - '0') * 10 + (b - '0');
    if (v >= limit)
      Fail(number_, "column " + std::to_string(first + 1) + ": " + what + " " + std::to_string(v) +
                        " out of range 0.." + std::to_string(limit - 1));
    return v;
  }

  void Separator(std::size_t column, const char* before) const {
    if (text_[column] != ' ')
      Fail(number_, "column " + std::to_string(column + 1) + ": expected a space after the " + before + ", found '" +
                        text_[column] + "'");
  }

 private:
  std::string_view text_;
  std::size_t number_;
};

// The columns of the KStars file (0-based first byte, width).
constexpr std::size_t kRaColumn = 0, kDecColumn = 10, kPmRaColumn = 20, kPmDecColumn = 29, kParallaxColumn = 38,
                      kMagnitudeColumn = 46, kBvColumn = 51, kKStarsMinimumLength = 56;

CatalogueStar ParseKStarsLine(std::string_view text, std::size_t number) {
  if (text.size() < kKStarsMinimumLength)
    Fail(number, "line too short: " + std::to_string(text.size()) + " characters, a star needs " +
                     std::to_string(kKStarsMinimumLength) + " (RA, Dec, proper motion, parallax, magnitude, B-V)");
  const KStarsLine f(text, number);
  CatalogueStar s;
  // RA hhmmss.ss
  const int raH = f.TwoDigits(kRaColumn, 24, "RA hours");
  const int raM = f.TwoDigits(kRaColumn + 2, 60, "RA minutes");
  const double raS = f.Number(kRaColumn + 4, 5, "RA seconds");
  // 60.00 occurs: Debian's file rounds 59.995 s and above up (12 stars).
  if (raS > 60) Fail(number, "column 5: RA seconds " + std::string(text.substr(4, 5)) + " out of range [0, 60]");
  f.Separator(9, "RA");
  // Dec sddmmss.s
  const char sign = text[kDecColumn];
  if (sign != '+' && sign != '-')
    Fail(number, std::string("column 11: Dec has no sign, found '") + sign + "'");
  const int decD = f.TwoDigits(kDecColumn + 1, 91, "Dec degrees");
  const int decM = f.TwoDigits(kDecColumn + 3, 60, "Dec minutes");
  const double decS = f.Number(kDecColumn + 5, 4, "Dec seconds");
  if (decS > 60) Fail(number, "column 16: Dec seconds " + std::string(text.substr(15, 4)) + " out of range [0, 60]");
  const double decDeg = decD + decM / 60.0 + decS / 3600.0;
  if (decDeg > 90) Fail(number, "column 11: Dec " + std::string(text.substr(10, 9)) + " beyond the pole");
  f.Separator(19, "Dec");
  s.ra = (raH + raM / 60.0 + raS / 3600.0) * 15.0 * kDegToRad;
  if (s.ra >= kTwoPi) s.ra -= kTwoPi;  // 23 59 60.00
  s.dec = (sign == '-' ? -decDeg : decDeg) * kDegToRad;
  s.pmRa = f.Number(kPmRaColumn, 9, "pmRA") * kMasToRad;
  s.pmDec = f.Number(kPmDecColumn, 9, "pmDEC") * kMasToRad;
  s.parallax = f.Number(kParallaxColumn, 7, "parallax") / 1000.0;
  if (s.parallax < 0)
    Fail(number, "column 39: parallax " + std::string(text.substr(kParallaxColumn, 7)) + " is negative");
  f.Separator(45, "parallax");
  s.magnitude = Photometric(f.Number(kMagnitudeColumn, 5, "magnitude"), number, kMagnitudeColumn + 1, "magnitude");
  s.bv = Photometric(f.Number(kBvColumn, 5, "B-V"), number, kBvColumn + 1, "B-V");
  // ", genetive name[, long name]" after the fixed columns.
  const std::size_t comma = text.find(',', kKStarsMinimumLength);
  if (comma != std::string_view::npos) {
    const std::string_view names = text.substr(comma + 1);
    const std::size_t second = names.find(',');
    const std::string_view designation = Trim(names.substr(0, second));
    const std::string_view proper = second == std::string_view::npos ? std::string_view() : Trim(names.substr(second + 1));
    s.name = std::string(proper.empty() ? designation : proper);
  }
  return s;
}

// ---- Yale Bright Star Catalogue (xplanet) --------------------------------

// Whitespace-separated fields of a BSC line.
class BscLine {
 public:
  BscLine(std::string_view text, std::size_t number) : text_(text), number_(number) {}

  void SkipSpaces() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  double Number(const char* what) {
    SkipSpaces();
    const std::size_t first = pos_;
    if (AtEnd()) Fail(number_, std::string("missing ") + what + " (the line ends at column " +
                                   std::to_string(text_.size() + 1) + ")");
    std::size_t stop = text_.find_first_of(" \t", first);
    if (stop == std::string_view::npos) stop = text_.size();
    const std::string_view token = text_.substr(first, stop - first);
    double value = 0;
    if (!ParseDecimal(token, value))
      Fail(number_, "column " + std::to_string(first + 1) + ": " + what + " is not a number: '" + std::string(token) +
                        "'");
    pos_ = stop;
    lastColumn_ = first + 1;
    return value;
  }

  // 1-based column of the last number read.
  std::size_t LastColumn() const { return lastColumn_; }

  // A quoted name, trimmed; a leading Flamsteed number is set off by a space.
  std::string Name() {
    SkipSpaces();
    if (Peek() != '"') return {};
    const std::size_t open = pos_;
    const std::size_t close = text_.find('"', open + 1);
    if (close == std::string_view::npos)
      Fail(number_, "column " + std::to_string(open + 1) + ": the name's quote is not closed");
    pos_ = close + 1;
    const std::string_view name = Trim(text_.substr(open + 1, close - open - 1));
    std::size_t digits = 0;
    while (digits < name.size() && IsDigit(name[digits])) ++digits;
    if (digits > 0 && digits < name.size() && name[digits] != ' ')
      return std::string(name.substr(0, digits)) + " " + std::string(name.substr(digits));
    return std::string(name);
  }


 private:
  std::string_view text_;
  std::size_t number_;
  std::size_t pos_ = 0;
  std::size_t lastColumn_ = 0;
};

bool LooksLikeBscData(std::string_view line) {
  BscLine f(line, 0);
  try {
    f.Number("Dec");
    f.Number("RA");
    f.Number("magnitude");
  } catch (const CatalogueError&) {
    return false;
  }
  f.SkipSpaces();
  return f.AtEnd() || f.Peek() == '"' || IsDigit(f.Peek());
}

CatalogueStar ParseBscLine(std::string_view text, std::size_t number) {
  BscLine f(text, number);
  CatalogueStar s;
  const double dec = f.Number("Dec");
  const std::size_t decColumn = f.LastColumn();
  const double ra = f.Number("RA");
  const std::size_t raColumn = f.LastColumn();
  const double magnitude = f.Number("magnitude");
  s.magnitude = Photometric(magnitude, number, f.LastColumn(), "magnitude");
  s.name = f.Name();
  if (!(dec >= -90 && dec <= 90))
    Fail(number, "column " + std::to_string(decColumn) + ": Dec " + std::to_string(dec) + " out of range [-90, 90]");
  if (!(ra >= 0 && ra < 24))
    Fail(number, "column " + std::to_string(raColumn) + ": RA " + std::to_string(ra) + " h out of range [0, 24)");
  s.ra = ra * 15.0 * kDegToRad;
  s.dec = dec * kDegToRad;
  return s;  // no proper motion, parallax or colour in this catalogue
}

}  // namespace

CatalogueFormat DetectCatalogueFormat(std::string_view bytes) {
  Lines lines(bytes);
  std::string_view line;
  while (lines.Next(line)) {
    if (IsKStarsHeader(line)) return CatalogueFormat::KStars;
    if (IsComment(line) || IsBlank(line)) continue;
    if (LooksLikeKStarsData(line)) return CatalogueFormat::KStars;
    if (LooksLikeBscData(line)) return CatalogueFormat::YaleBsc;
    Fail(lines.Number(),
         "not a star catalogue this program reads: expected a KStars stars.dat line (hhmmss.ss sddmmss.s ...) "
         "or a Yale Bright Star Catalogue line (Dec RA magnitude \"name\")");
  }
  Fail(std::max<std::size_t>(lines.Number(), 1), "no stars: the catalogue has only comments or blank lines");
}

Catalogue ParseCatalogue(std::string_view bytes) {
  Catalogue catalogue;
  catalogue.format = DetectCatalogueFormat(bytes);
  catalogue.stars.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
  const bool kstars = catalogue.format == CatalogueFormat::KStars;
  Lines lines(bytes);
  std::string_view line;
  while (lines.Next(line)) {
    if (IsComment(line) || IsBlank(line)) continue;
    catalogue.stars.push_back(kstars ? ParseKStarsLine(line, lines.Number()) : ParseBscLine(line, lines.Number()));
  }
  // A KStars header alone names the format but holds no star.
  if (catalogue.stars.empty())
    Fail(std::max<std::size_t>(lines.Number(), 1), "no stars: the catalogue has only comments or blank lines");
  return catalogue;
}

}  // namespace sky
