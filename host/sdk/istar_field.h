// IStarField: what a star-field effect tells its host beyond rendering, for
// a host that reaches the effect only through its loaded module: the star
// records it draws (generated, or a star catalogue's), and the memory a
// render of it takes.
//
//   IStarField* field = GetStarFieldInterface(effect);  // null: not a star field
//
// Contract of every call:
// - Thread: the host's thread that owns the effect, never at the same time
//   as another call on the same effect (Apply included). Generation may run
//   on the workers the host grants (RenderThreadsGranted), inside the call.
// - Exceptions: none leaves a call; failures are return values. The host's
//   callbacks (StarRecordSink, CheckAbortCallback) must not throw either.
// - Ownership: the effect owns the interface (base_interface.h); records
//   handed to a sink belong to the effect and live only during that call.
// - The effect's own state (its cached field, its block) is left as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base_interface.h"
#include "bitmap.h"
#include "check_abort.h"
#include "point3.h"
#include "ref.h"

inline constexpr Interface_ID STAR_FIELD_INTERFACE(0x3D6A2F41, 0x5C19B7E3);

// One star as the effect draws it.
struct StarFieldRecord {
  Point3 pos;          // generated: in the unit ball before any placement, 0 < Length(pos) <= 1;
                       // sky stars: the unit direction in the world frame at the time listed
  BMM_Color_64 color;  // r, g, b on the 16-bit scale (full intensity 65280); a: the field's alpha, likewise
                       // (sky stars: the hue, its largest channel 65280; the light gives the brightness)
  float size = 0.0f;   // radius in pixels
};

// What the records of a listing are.
enum StarRecordsKind : int {
  STAR_RECORDS_GENERATED = 0,  // the seeded field: TakeStars
  STAR_RECORDS_SKY = 1,        // a star catalogue's stars (and fill-in below its limit): TakeSkyStars
};

// What a sky star is beside its record. Strings live during the call.
struct SkyStarRecord {
  float magnitude = 0.0f;  // V
  float bv = 0.0f;         // B-V; NaN when unknown
  float light = 0.0f;      // 10^(-0.4 (magnitude - m0)), m0 the effect's zero point: the summed luminance of
                           // its pixels, 1.0 = 65280
  double ra = 0.0;         // ICRS right ascension and declination at the catalogue's epoch, radians
  double dec = 0.0;
  const char* name = "";   // the catalogue's name for it, "" when none
  bool fillIn = false;     // a seeded star below the catalogue's limit, not one of its own
};

// Takes the records of a field, in index order.
class StarRecordSink {
 public:
  // Called once before any record with what the records are (a listing
  // that hands no record over calls it too).
  virtual void BeginStars(StarRecordsKind kind) { (void)kind; }
  // Records first .. first + count - 1 (count >= 1). False stops the
  // generation's listing (EnumStarRecords returns STAR_RECORDS_STOPPED).
  virtual bool TakeStars(std::uint32_t first, const StarFieldRecord* stars, std::size_t count) = 0;
  // Sky stars first .. first + count - 1, sky[k] belonging to stars[k];
  // false stops as TakeStars does. By default the records alone.
  virtual bool TakeSkyStars(std::uint32_t first, const StarFieldRecord* stars, const SkyStarRecord* sky,
                            std::size_t count) {
    (void)sky;
    return TakeStars(first, stars, count);
  }

 protected:
  ~StarRecordSink() = default;
};

// EnumStarRecords' results.
enum StarRecordsResult : int {
  STAR_RECORDS_DONE = 0,       // every record was handed over (none for an empty field)
  STAR_RECORDS_STOPPED = 1,    // the sink returned false
  STAR_RECORDS_ABORTED = 2,    // the progress callback asked to stop during generation
  STAR_RECORDS_NO_MEMORY = 3,  // the records could not be allocated
  STAR_RECORDS_BAD_INPUT = 4,  // a file or text the parameters name cannot be used; the reason is in the
                               // host's log (SYSLOG_ERROR | SYSLOG_INPUT), naming the file, line or parameter
};

// The effect's share of a render's memory, in bytes.
struct StarFieldMemory {
  std::uint64_t records = 0;  // kept from one frame to the next: the star array
  std::uint64_t working = 0;  // had only while Apply runs: generation, motion path, star loop
};

class IStarField : public BaseInterface {
 public:
  Interface_ID GetID() override { return STAR_FIELD_INTERFACE; }

  // Makes the stars of the effect's parameter values at time t, exactly as
  // a render at t draws them, reporting to `progress` (may be null; titled,
  // and asked as Apply asks it), and hands their records to `sink`: the
  // generated field, or the sky's stars placed for the instant of t (a
  // catalogue's brighter than its magnitude limit, brightest first, then
  // the fill-in's).
  virtual StarRecordsResult EnumStarRecords(TimeValue t, StarRecordSink& sink, CheckAbortCallback* progress) = 0;

  // The memory the effect takes to render the frames at times[0..count-1]
  // (its largest star count and motion-blur subdivisions over them; with
  // catalogue stars, the catalogue it reads and the stars it places) on
  // `workers` threads (0: the serial loops, which need no parallel
  // scratch). An upper bound, not an average; saturates at UINT64_MAX.
  virtual StarFieldMemory RenderMemory(const TimeValue* times, int count, int workers) = 0;

 protected:
  ~IStarField() = default;
};

// The star-field interface of `object`, or null.
inline IStarField* GetStarFieldInterface(Animatable* object) {
  return object ? static_cast<IStarField*>(object->GetInterface(STAR_FIELD_INTERFACE)) : nullptr;
}
