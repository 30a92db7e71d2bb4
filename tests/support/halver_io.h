// The bitmap builder, the in-memory source and sink and the recording bar
// under their short names, as the tests of the halver over memory use them.
#pragma once

#include "tests/support/bmp_builder.h"
#include "tests/support/memory_io.h"
#include "tests/support/recording_bar.h"

using testing_support::BmpFields;
using testing_support::Bytes;
using testing_support::I32At;
using testing_support::MakeBmp;
using testing_support::MemorySink;
using testing_support::MemorySource;
using testing_support::RecordingBar;
using testing_support::U32At;
