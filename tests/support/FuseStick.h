#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/TestSupport.h"

namespace tarn::test {

// A USB stick for one test: FAT32 or exFAT in a sparse image mounted through FUSE (fusefat,
// exfat-fuse), unmounted when the object goes. Needs root.
class FuseStick {
public:
    enum class Kind { Fat32, ExFat };

    // A stick of `size` bytes, its image and mount point in `folder`; null with the reason in
    // `why` where this machine cannot make one, for the test to skip.
    static std::unique_ptr<FuseStick> Make(Kind kind, const std::string& folder, std::string* why,
                                           uint64_t size = uint64_t{512} << 20);
    ~FuseStick();
    FuseStick(const FuseStick&) = delete;
    FuseStick& operator=(const FuseStick&) = delete;

    const std::string& Path() const { return mountPoint_; }  // ends with '/'
    // Mounts again, so that what is read next comes from the image, not a cache.
    ::testing::AssertionResult Remount();

private:
    FuseStick(Kind kind, const std::string& folder);
    std::string Mount();  // the reason it failed, or nothing
    void Unmount();

    Kind kind_;
    std::string image_;
    std::string mountPoint_;
    std::string tools_;                      // the tools' home, their output in it
    std::unique_ptr<CommandRunner> daemon_;  // fusefat runs in the foreground as our child
    bool mounted_ = false;
};

const char* KindName(FuseStick::Kind kind);  // "Fat32", "ExFat": for test names
inline void PrintTo(FuseStick::Kind kind, std::ostream* out) { *out << KindName(kind); }

}  // namespace tarn::test
