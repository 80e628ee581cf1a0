// The configuration file reader over any text: it refuses with a FileError or returns a backup that
// writes and reads back as itself.
#include "profile/BackupFile.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    profile::Backup backup;
    try {
        backup = profile::ReadBackup(fuzzcheck::asText(data, size));
    } catch (const profile::FileError&) {
        return 0;
    }
    const profile::Backup again = profile::ReadBackup(profile::WriteBackup(backup));
    fuzzcheck::check(again.values == backup.values, "backup file: values change when written and read back");
    fuzzcheck::check(again.replies == backup.replies, "backup file: replies change when written and read back");
    return 0;
}
