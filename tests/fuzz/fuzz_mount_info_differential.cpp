// Our mountinfo reader against libmount's, on the same bytes; any
// disagreement aborts. libmount reads more leniently than the kernel writes
// (runs of blanks and tabs as one separator, signs in numbers, leading
// blanks), so "agree" means:
//
// 1. Each line of the input on its own: when ours reads an entry from it,
//    libmount reads one too, with the same root, target, type, source and
//    file-system options. Lines ours refuses may still be read by libmount;
//    they are not in the kernel's form, and refusing them is the point. Left
//    out are lines holding a tab or ending in a carriage return: the kernel
//    writes neither there (tabs it escapes), while libmount splits at tabs
//    and drops a final CR as the end of a DOS line.
// 2. A line the kernel could have written, made from the input: its fields
//    (root, target, type, source, options) are cut from the input at NUL
//    bytes and escaped the kernel's way (blank, tab, line feed, backslash as
//    \ooo). Both readers must read it, and give back the fields as they
//    were, except that libmount drops a carriage return that ends the line.
//
// In both, a source of "/dev/root" is libmount's to rename (it looks up the
// real root device), so it is not compared.
#include "platform/linux/kernel_tables/mount_info.h"

#include <libmount/libmount.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::linux_files::MountEntry;

struct Fields {
    std::string root, target, type, source, options;
    bool operator==(const Fields&) const = default;
};

[[noreturn]] void disagree(const std::string& line, const char* what, const std::string& ours, const std::string& theirs)
{
    std::fprintf(stderr, "disagreement on %s\n  line:    [%s]\n  ours:    [%s]\n  libmount:[%s]\n", what, line.c_str(),
        ours.c_str(), theirs.c_str());
    std::abort();
}

std::string text(const char* value) { return value ? value : ""; }

// libmount's reading of a single line: nothing when it takes no entry from
// it, or reads it as anything other than mountinfo.
std::optional<Fields> libmountReading(const std::string& line)
{
    std::string bytes = line + "\n";
    std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(mnt_new_table(), &mnt_unref_table);
    FILE* stream = fmemopen(bytes.data(), bytes.size(), "r");
    if (!table || !stream)
        std::abort();
    mnt_table_parse_stream(table.get(), stream, "fuzz input");
    std::fclose(stream);
    libmnt_fs* fs = nullptr;
    if (mnt_table_first_fs(table.get(), &fs) != 0 || !mnt_fs_is_kernel(fs))
        return std::nullopt;
    return Fields { text(mnt_fs_get_root(fs)), text(mnt_fs_get_target(fs)), text(mnt_fs_get_fstype(fs)),
        text(mnt_fs_get_source(fs)), text(mnt_fs_get_fs_options(fs)) };
}

std::optional<Fields> ourReading(const std::string& line)
{
    std::istringstream input(line);
    auto mounts = platform::linux_files::parseMountInfo(input);
    if (mounts.size() > 1)
        disagree(line, "entry count", std::to_string(mounts.size()), "at most 1");
    if (mounts.empty())
        return std::nullopt;
    auto const& mount = mounts.front();
    return Fields { mount.root, mount.mountPoint, mount.fileSystemType, mount.source, mount.superOptions };
}

std::string withoutFinalCarriageReturn(std::string value)
{
    if (value.ends_with('\r'))
        value.pop_back();
    return value;
}

void expectLibmountAgrees(const std::string& line, const Fields& ours, const Fields& theirs)
{
    if (ours.root != theirs.root)
        disagree(line, "root", ours.root, theirs.root);
    if (ours.target != theirs.target)
        disagree(line, "target", ours.target, theirs.target);
    if (ours.type != theirs.type)
        disagree(line, "type", ours.type, theirs.type);
    if (ours.source != theirs.source && ours.source != "/dev/root")
        disagree(line, "source", ours.source, theirs.source);
    if (withoutFinalCarriageReturn(ours.options) != theirs.options)
        disagree(line, "options", ours.options, theirs.options);
}

std::string described(const Fields& fields)
{
    return fields.root + "|" + fields.target + "|" + fields.type + "|" + fields.source + "|" + fields.options;
}

void compareRawLine(const std::string& line)
{
    if (line.find('\t') != std::string::npos || line.ends_with('\r'))
        return;
    auto ours = ourReading(line);
    if (!ours)
        return;
    auto theirs = libmountReading(line);
    if (!theirs)
        disagree(line, "acceptance", "read", "refused");
    expectLibmountAgrees(line, *ours, *theirs);
}

std::string escapedTheKernelsWay(const std::string& field)
{
    std::unique_ptr<char, decltype(&std::free)> mangled(mnt_mangle(field.c_str()), &std::free);
    return mangled ? mangled.get() : "";
}

std::vector<std::string> piecesAtNulBytes(std::string_view input, std::size_t count)
{
    std::vector<std::string> pieces;
    for (std::size_t start = 0; pieces.size() < count;) {
        auto end = std::min(input.find('\0', start), input.size());
        pieces.emplace_back(input.substr(std::min(start, input.size()), end - std::min(start, input.size())));
        start = end + 1;
    }
    return pieces;
}

// The kernel writes something in every field but the source, and its option
// list always starts with "rw" or "ro".
Fields kernelFieldsFrom(std::string_view input)
{
    auto pieces = piecesAtNulBytes(input, 5);
    auto orDefault = [](const std::string& piece, const char* fallback) { return piece.empty() ? fallback : piece; };
    return Fields { orDefault(pieces[0], "/"), orDefault(pieces[1], "/"), orDefault(pieces[2], "none"), pieces[3],
        pieces[4].empty() ? "rw" : "rw," + pieces[4] };
}

void compareKernelLine(std::string_view input)
{
    auto fields = kernelFieldsFrom(input);
    std::string line = "36 25 0:42 " + escapedTheKernelsWay(fields.root) + " " + escapedTheKernelsWay(fields.target)
        + " rw,relatime shared:1 - " + escapedTheKernelsWay(fields.type) + " " + escapedTheKernelsWay(fields.source) + " "
        + escapedTheKernelsWay(fields.options);
    auto ours = ourReading(line);
    auto theirs = libmountReading(line);
    if (!ours || !theirs)
        disagree(line, "acceptance of a kernel line", ours ? "read" : "refused", theirs ? "read" : "refused");
    if (*ours != fields)
        disagree(line, "our reading of a kernel line (libmount: as written)", described(*ours), described(fields));
    expectLibmountAgrees(line, fields, *theirs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::istringstream lines { std::string(input) };
    for (std::string line; std::getline(lines, line);)
        compareRawLine(line);
    compareKernelLine(input);
    return 0;
}
