// The fast deflate of the image writers (16-bit PNG's `fast`, OpenEXR's
// zip): level 1, by zlib's run-length strategy where the data is mostly runs
// of equal bytes, which is what star frames hold (black with sparse points),
// else by libdeflate. The choice is made from the bytes alone, so an image
// is written to the same file on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velumbra {

// The zlib stream header (RFC 1950) of such data: CMF 0x78 (deflate, 32 KiB
// window), FLG 0x01 (fastest level, no dictionary, check bits making 0x7801
// a multiple of 31).
inline constexpr std::uint8_t kFastZlibHeader[2] = {0x78, 0x01};

// Busy data (many bytes differ from the one before: dense fields, long
// streaks across the frame, a rendered plate) is deflated by libdeflate at
// level 1, whose cost hardly grows with the content and which compresses it
// smaller; the rest (black with sparse stars) by zlib's run-length strategy,
// whose cost follows the number of runs. Measured on 1080p 16-bit PNG
// frames, zlib against libdeflate: empty 21 against 50 ms; 300,000 stars (15
// bytes in 1000 differ) 32 against 54 ms; 1.5 million (73) 56 against 55 ms;
// 4 million (183) 103 against 61 ms; a pan of long streaks (351) 145 against
// 98 ms. Data is busy when more than this many of every 1000 bytes differ
// from the byte before.
inline constexpr std::uint64_t kBusyPerMille = 70;

inline bool IsBusy(std::uint64_t changes, std::uint64_t total) { return changes * 1000 > total * kBusyPerMille; }

// The bytes of data[0..n) that differ from the one before (data[0] is not
// counted).
std::uint64_t CountChanges(const std::uint8_t* data, std::size_t n);

// Deflates data[0..n) raw (RFC 1951, no header or checksum) at level 1 by
// the compressor `busy` chooses, into `out` from out[offset] on (`out` grows
// to fit); returns the size of the deflate data. The compressors are kept
// by the calling thread from one call to the next.
std::size_t DeflateFast(const std::uint8_t* data, std::size_t n, bool busy, std::vector<std::uint8_t>& out,
                        std::size_t offset = 0);

// Deflates data[0..n) raw as DeflateFast does, as one block of the fixed
// Huffman codes: each run of a repeated byte as matches at distance 1, every
// other byte as a literal (8 or 9 bits). No match is looked for elsewhere:
// for data that is runs and noise, as OpenEXR's predicted 32-bit float
// samples are (their low bytes hardly compress), where a search finds
// nothing. Measured on the float chunks of a 1080p frame of a pan of 100,000
// stars: 100 ms against 237 ms with libdeflate at level 1 and 218 ms with
// zlib's run-length strategy, 13.6 MB against 12.5 MB. Long runs cost 13
// bits each 258 bytes (a few bits with zlib's own codes): for busy data.
// At most n + n / 8 + 8 bytes.
std::size_t DeflateRuns(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out,
                        std::size_t offset = 0);

}  // namespace velumbra
