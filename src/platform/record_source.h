// What the platform's per-file services share of a record beyond
// RecordSource: the headers of its file, read once for every reader of it.
#ifndef QUELVO_RECORD_SOURCE_H
#define QUELVO_RECORD_SOURCE_H

#include "byte_source.h"
#include "pe_image.h"
#include "platform.h"

// RecordSource, and in *image the source's headers as ReadPeImage reads
// them, read at the first call for the file held and kept with it; null
// (and *image untouched) when the file cannot be opened.
ByteSource *RecordSourceAndImage(FileRecord *record, const PeImage **image);

#endif
