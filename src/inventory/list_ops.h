// Comparisons of lists. Every result keeps the order of its first input. Each runs in linear
// time: the second list is hashed once.
#pragma once

#include "inventory/xarray.h"
#include "platform/observer.h"

namespace bsync {

// The entries of a that equal no entry of b (exact, case-sensitive). CountAction per entry of a.
TXArray ListMinus(const TXArray& a, const TXArray& b, Observer& observer);

// The file entries of a that b lacks, or holds only with an older modification time (an equal
// time is up to date). CountAction per entry of a. Throws EConvertError when a compared
// modified field does not parse.
TXArray FilesNewer(const TXArray& a, const TXArray& b, Observer& observer);

// The folders the files lie in, every level, each once, with "/": a\b\c.txt -> a/, a/b/.
TXArray DirsOfFiles(const TXArray& files);

// The sum of the size fields in megabytes. Throws EConvertError on a size that does not parse.
double SumSizes(const TXArray& files);

}  // namespace bsync
