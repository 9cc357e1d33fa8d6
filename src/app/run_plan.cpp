#include "app/run_plan.h"

#include "system/exit_status.h"
#include "system/file_names.h"

namespace tavimor {
namespace {

int digitsOf(int n) {
    int digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

}  // namespace

std::string rockName(const RunPlan& plan, int n) {
    std::string number = std::to_string(n);
    const auto width = static_cast<std::size_t>(digitsOf(plan.count - 1));
    if (number.size() < width) number.insert(0, width - number.size(), '0');
    return plan.stem + number;
}

std::string firstWindowsDeviceName(const RunPlan& plan) {
    // Device names end in one digit at most: only runs of ten rocks or
    // fewer can make one.
    for (int n = plan.count - 1; n >= 0 && plan.count <= 10; --n) {
        const std::string name = rockName(plan, n);
        if (isWindowsDeviceName(name)) return name;
    }
    return {};
}

int writeRun(const RunPlan& plan, RunReport& report) {
    Lcg generator{plan.seed};
    std::vector<FormatFile> files;
    for (int n = plan.count - 1; n >= 0; --n) {
        const std::string name = rockName(plan, n);
        // Made once, the same rock in every format.
        const Rock rock = makeRock(generator, plan.spike, plan.scale);
        files.clear();
        for (const Format format : plan.formats) appendRockFiles(files, format, rock, n, name);
        for (const FormatFile& file : files) {
            const std::string path = joinPath(plan.directory, name + std::string(file.extension));
            report.writing(path);
            // No format makes an empty file: empty bytes are a format that
            // failed to make its file.
            const SaveResult result =
                file.bytes.empty() ? SaveResult::WriteFailed : saveFile(path, file.bytes, report.doneLine(path));
            if (result != SaveResult::Saved) {
                report.failed(path, result);
                return kExitFailure;
            }
            if (!report.goOn()) return kExitFailure;
        }
        report.progress(plan.count - n, plan.count);
    }
    return kExitSuccess;
}

}  // namespace tavimor
