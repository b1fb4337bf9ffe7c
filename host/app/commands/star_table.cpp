#include "host/app/commands/star_table.h"

#include <cstdio>
#include <exception>

#include "host/app/base/app_error.h"

namespace velumbra {

namespace {

// Formats the records the module hands over. An exception of the text's
// sink stops the listing and waits here until the module has returned.
class CsvSink final : public StarRecordSink {
 public:
  explicit CsvSink(const std::function<void(std::string_view)>& sink) : sink_(sink) {
    out_.reserve(kStarsCsvChunk + 200);
    out_ = "index,x,y,z,r,g,b,a,size\n";
  }

  bool TakeStars(std::uint32_t first, const StarFieldRecord* stars, std::size_t count) override {
    try {
      char line[200];
      for (std::size_t k = 0; k < count; ++k) {
        const StarFieldRecord& s = stars[k];
        const int n = std::snprintf(line, sizeof line, "%u,%.9g,%.9g,%.9g,%u,%u,%u,%u,%.9g\n",
                                    first + static_cast<std::uint32_t>(k), static_cast<double>(s.pos.x),
                                    static_cast<double>(s.pos.y), static_cast<double>(s.pos.z), unsigned{s.color.r},
                                    unsigned{s.color.g}, unsigned{s.color.b}, unsigned{s.color.a},
                                    static_cast<double>(s.size));
        out_.append(line, static_cast<size_t>(n));
        if (out_.size() >= kStarsCsvChunk) Flush();
      }
      return true;
    } catch (...) {
      failure_ = std::current_exception();
      return false;
    }
  }

  void Flush() {
    sink_(out_);
    out_.clear();
  }

  std::exception_ptr failure() const { return failure_; }
  bool pending() const { return !out_.empty(); }

 private:
  const std::function<void(std::string_view)>& sink_;
  std::string out_;
  std::exception_ptr failure_;
};

}  // namespace

void WriteStarsCsv(IStarField& effect, TimeValue t, CheckAbortCallback* progress,
                   const std::function<void(std::string_view)>& sink) {
  CsvSink csv(sink);
  const StarRecordsResult result = effect.EnumStarRecords(t, csv, progress);
  switch (result) {
    case STAR_RECORDS_DONE:
      break;
    case STAR_RECORDS_STOPPED:
      if (csv.failure()) std::rethrow_exception(csv.failure());
      break;
    case STAR_RECORDS_ABORTED:
      throw Interrupted{};
    case STAR_RECORDS_NO_MEMORY:
      throw SystemError("not enough memory for the star records");
  }
  if (result != STAR_RECORDS_DONE) throw SystemError("the effect could not list its star records");
  if (csv.pending()) csv.Flush();
}

std::string StarsCsv(IStarField& effect, TimeValue t) {
  std::string out;
  WriteStarsCsv(effect, t, nullptr, [&](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace velumbra
