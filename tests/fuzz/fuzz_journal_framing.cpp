// A line framed for journald's native protocol reads back, field by field,
// as journald reads it: the fields of ours, then MESSAGE holding the line
// whole, whatever line breaks or "FIELD=" text it holds.
#include "platform/linux/log/log_line_framing.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Each field's name and value, as journald's reader splits a datagram.
std::vector<std::pair<std::string, std::string>> fieldsIn(std::string_view datagram)
{
    std::vector<std::pair<std::string, std::string>> fields;
    while (!datagram.empty()) {
        const auto end = datagram.find('\n');
        if (end == std::string_view::npos)
            std::abort(); // every field ends in a line break
        const auto line = datagram.substr(0, end);
        if (const auto equals = line.find('='); equals != std::string_view::npos) {
            fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
            datagram.remove_prefix(end + 1);
            continue;
        }
        // NAME, a line break, 64 bits of length, the value, a line break.
        datagram.remove_prefix(end + 1);
        std::uint64_t length = 0;
        if (datagram.size() < sizeof length)
            std::abort();
        std::memcpy(&length, datagram.data(), sizeof length);
        datagram.remove_prefix(sizeof length);
        if (datagram.size() < length + 1 || datagram[length] != '\n')
            std::abort();
        fields.emplace_back(line, datagram.substr(0, length));
        datagram.remove_prefix(length + 1);
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static auto framing = platform::makeJournalFraming("Ferrowind Helper");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string datagram(framing->before(text));
    datagram += text;
    datagram += framing->after();
    const auto fields = fieldsIn(datagram);
    if (fields.size() != 5 || fields.back().first != "MESSAGE" || fields.back().second != text || fields[2].second != "Ferrowind Helper")
        std::abort();
    return 0;
}
