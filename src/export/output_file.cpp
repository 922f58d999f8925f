#include "export/output_file.h"

#include <cerrno>
#include <filesystem>

#include "platform/system_error.h"

namespace orvik::exporting {

namespace {

Error exportError(const std::string& target, int err) {
    if (err == EEXIST)
        return makeError("'" + target + "' exists; add --force to replace it", err);
    if (err == EINVAL)
        return makeError("'" + target + "' is not a regular file", err);
    return makeError("cannot write '" + target + "': " + platform::systemErrorText(err), err);
}

}  // namespace

Result<OutputFile> OutputFile::create(const std::string& target, bool force,
                                      const std::vector<std::string>& sources) {
    if (target.empty())
        return makeError("no output file given");
    for (const std::string& source : sources) {
        std::error_code ec;
        if (!source.empty() && std::filesystem::equivalent(target, source, ec))
            return makeError(std::string("'")
                                 .append(target)
                                 .append("' is the recording ")
                                 .append(source)
                                 .append(" the export reads; choose another file"));
    }
    auto writer = platform::CommitWriter::create(
        target, {force ? platform::IfExists::Replace : platform::IfExists::Refuse,
                 platform::Durability::WhereLossCounts});
    if (!writer)
        return exportError(target, writer.errorNumber());
    return OutputFile(std::move(*writer));
}

std::string OutputFile::error() const {
    return writer_.failed() ? exportError(writer_.target(), writer_.errorNumber()).message
                            : std::string();
}

Result<void> OutputFile::commit() {
    if (auto r = writer_.commit(); !r)
        return exportError(writer_.target(), r.errorNumber());
    return {};
}

}  // namespace orvik::exporting
