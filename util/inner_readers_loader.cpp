// The readers of archives and PDFs for the programs: loaded from ferret-readers.so when first
// needed. It lies beside the program in the build and in lib/ferret/ when installed, as the
// window program does.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "util/inner_readers.h"

namespace ferret {
namespace {

constexpr const char* kSource = "ferret.InnerReaders";

const InnerReaders* Load(std::string& error) {
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
        error = "the program's own folder is not known";
        return nullptr;
    }
    std::string folder(exe, static_cast<std::size_t>(length));
    folder.erase(folder.rfind('/') + 1);
    error = "ferret-readers.so is not installed beside the program";
    for (const std::string& candidate :
         {folder + "ferret-readers.so", folder + "../lib/ferret/ferret-readers.so"}) {
        if (access(candidate.c_str(), R_OK) != 0) {
            continue;
        }
        void* const module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* const why = dlerror();
            error = why != nullptr ? why : candidate + " cannot be loaded";
            return nullptr;
        }
        const auto entry = reinterpret_cast<InnerReadersEntry>(dlsym(module, kInnerReadersEntry));
        const InnerReaders* const readers = entry != nullptr ? entry() : nullptr;
        if (readers == nullptr || readers->build != InnerReadersBuild()) {
            error = candidate + " is of another build of Ferret";
            return nullptr;  // left loaded: nothing of it is used
        }
        return readers;
    }
    return nullptr;
}

// The readers, loaded once; null with `error` telling why they cannot be.
const InnerReaders* Readers(std::string& error) {
    static std::string failure;
    static const InnerReaders* const readers = Load(failure);
    error = failure;
    return readers;
}

Status CannotRead(const std::string& why) {
    return Status::Error(ELIBACC, "archives and PDFs cannot be read here: " + why, kSource);
}

}  // namespace

ArchiveRead ReadArchive(int fd, const ArchiveLimits& limits,
                        const std::function<EntryVisit(const ArchiveEntry&, EntryStream&)>& visit,
                        const std::atomic<bool>* stop) {
    std::string error;
    const InnerReaders* const readers = Readers(error);
    if (readers == nullptr) {
        ArchiveRead result;
        result.status = CannotRead(error);
        return result;
    }
    return readers->read_archive(fd, limits, visit, stop);
}

std::unique_ptr<PdfText> PdfText::Open(int fd, Status& error) {
    std::string why;
    const InnerReaders* const readers = Readers(why);
    if (readers == nullptr) {
        error = CannotRead(why);
        return nullptr;
    }
    return readers->open_pdf(fd, error);
}

}  // namespace ferret
