// The module's entry point: everything else in it is hidden, so that its readers and the
// program's names never bind to each other.

#include "util/inner_readers.h"

extern "C" __attribute__((visibility("default"))) const ferret::InnerReaders*
ferret_inner_readers() {
    static const ferret::InnerReaders readers{ferret::InnerReadersBuild().c_str(),
                                              &ferret::ReadArchive, &ferret::PdfText::Open};
    return &readers;
}
