#include <windows.h>

#include "app/file_output.h"
#include "app/guard.h"

namespace tavimor {

SaveResult saveFile(const std::string& path, std::string_view bytes) {
    // Shared for deletion, so that the console control handler can remove
    // the file while it is still open; the bytes go out as they are.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SaveResult::OpenFailed;
    guardOpenFile(path.c_str());
    bool complete = true;
    while (complete && !bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(bytes.size() < (1u << 30) ? bytes.size() : (1u << 30));
        complete = WriteFile(file, bytes.data(), chunk, &written, nullptr) && written > 0;
        bytes.remove_prefix(written);
    }
    SignalBlock block;
    if (!CloseHandle(file)) complete = false;
    if (!complete) DeleteFileA(path.c_str());
    releaseOpenFile();
    return complete ? SaveResult::Saved : SaveResult::WriteFailed;
}

}  // namespace tavimor
