// StarField: the effect's cached, seeded array of stars.
//
// Generation fills the unit ball uniformly (by rejection) and grades the
// stars by index from bright (record 0) to dim (the last record) through the
// balance curve, with a random colour variance. The field is rebuilt only
// when its generation key changes; everything that shapes the field in space
// acts later, when a star is placed for drawing.
//
// The records lie in one of two orders. By index: record i is star i. By
// cell (cellOrdered()): within each block of the visibility index, the
// records are grouped by cell as the index groups the stars, stars()[j]
// being star index().order()[j], so that a pass reads the stars of the
// cells it keeps as runs of memory instead of one record here and there in
// the whole array (a cache miss each, where the array is far larger than
// the cache). Large fields are laid out by cell once generated, block by
// block through a block's worth of scratch memory a thread; where that
// memory cannot be had they stay by index (slower passes, the same image).
#pragma once

#include <cstdint>
#include <memory>

#include "plugin/host.h"
#include "starfield/balance_curve.h"
#include "raster/channel.h"
#include "starfield/star_record.h"
#include "starfield/visibility_index.h"

// The values the field is generated from, formed from the parameters at the
// render time.
struct StarFieldKey {
  std::uint32_t count = 0;
  std::int32_t seed = 0;
  BMM_Color_64 brightColor;  // r, g, b = colour x 65535, truncated; a = 0
  BMM_Color_64 dimColor;
  float colorVariance = 0.0f;  // fraction: 0..1 for 0..100 %
  std::int32_t alpha16 = 0;    // star alpha on the 16-bit scale, 0..65280
  float brightSize = 0.0f;
  float dimSize = 0.0f;
  float brightDimBalance = 0.0f;
};

class StarField {
 public:
  static constexpr const char* kCreatingTitle = "Qe_Velumbra: Creating Star Field";

  // Reuses the field when it exists and every key member equals `key`
  // (floats compared exactly: a NaN never matches); otherwise takes the new
  // key and generates. True when a valid field is in place.
  bool RefreshStarField(const StarFieldKey& key, CheckAbortCallback* abort);

  // Generates from the current key. 1 on success; 0 when the array cannot be
  // allocated (stars() becomes null, outOfMemory() true, count() keeps the
  // count asked for) or when Progress asks to stop, or Check does while the
  // cells are read (count becomes 0, the partly filled array stays). Runs on
  // the threads the host grants (RenderThreadsGranted); where the parallel
  // reading cannot get its working memory it reads serially instead (same
  // stars, by index) and fellBackToSerial() tells so. Never throws.
  int GenerateStarField(CheckAbortCallback* abort);
  // The most working memory the parallel reading of `count` stars takes, in
  // bytes: 5 bytes a triple of its largest round (the taken bits, a bit a
  // triple, and room to spare), at most 20 MiB whatever the count.
  static std::uint64_t ParallelScratchBytes(std::uint32_t count);

  // Fields of at least this many stars are laid out by cell: from about a
  // million (24 MB of records) a field's records no longer stay in the
  // processor's caches.
  static constexpr std::uint32_t kCellOrderFrom = 1u << 20;
  // The least star count laid out by cell from the next generation on
  // (kCellOrderFrom unless set; 0: every field; UINT32_MAX: none, for a
  // reader that wants the records by index).
  void SetCellOrderFrom(std::uint32_t count) { cellOrderFrom_ = count; }
  // The scratch memory laying a field of `count` stars out by cell takes
  // (at the default kCellOrderFrom; 0 for a field kept by index), in bytes:
  // a block's records.
  static std::uint64_t ArrangeScratchBytes(std::uint32_t count);

  std::uint32_t count() const { return key_.count; }
  // The records, in the field's order: by index, or by cell.
  const StarRecord* stars() const { return stars_.get(); }
  const StarFieldKey& key() const { return key_; }
  // The records are grouped by cell (see above); the index is built.
  bool cellOrdered() const { return cellOrdered_; }

  // The stars' cells, built with every complete field; not built (the pass
  // then visits every star) when its memory could not be had.
  const VisibilityIndex& index() const { return index_; }

  // Generations run so far (a refresh that reused the field runs none).
  std::uint64_t generations() const { return generations_; }
  // Of the latest generation: the record array could not be allocated.
  bool outOfMemory() const { return outOfMemory_; }
  // Of the latest generation: threads were granted, but the parallel
  // reading could not get its working memory and the serial one ran.
  bool fellBackToSerial() const { return fellBackToSerial_; }

  // Generation's own generator; nothing else draws from it.
  const Random& rng() const { return rng_; }

 private:
  bool KeyMatches(const StarFieldKey& key) const;
  // The parallel generation, star for star the serial reading's result.
  // -1, with nothing written, when its working memory cannot be had. With
  // `cells` (count entries) it notes each star's index cell there, and the
  // largest star radius in `most`.
  int GenerateParallel(CheckAbortCallback* abort, int threads, std::uint32_t* cells, float& most);
  // Lays the generated records out by cell (the index built) on `threads`
  // threads; false, with the records by index, when its scratch memory
  // cannot be had.
  bool ArrangeByCell(int threads);
  int GenerateSerial(CheckAbortCallback* abort);

  StarFieldKey key_;
  HostArray<StarRecord> stars_;  // in a host block: huge pages for large fields
  Random rng_;
  VisibilityIndex index_;
  std::uint32_t cellOrderFrom_ = kCellOrderFrom;
  bool cellOrdered_ = false;
  std::uint64_t generations_ = 0;
  bool outOfMemory_ = false;
  bool fellBackToSerial_ = false;
};
