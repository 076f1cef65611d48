#include "records/RunRecord.h"

#include "platform/CodePage.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace zul::records {

namespace {

using Json = nlohmann::json;

std::optional<std::int64_t> wholeNumber(const Json& v)
{
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return std::int64_t(u);
    }
    if (v.is_number_integer())
        return v.get<std::int64_t>();
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return std::int64_t(d);
    }
    return std::nullopt;
}

std::int64_t integer(const Json& o, std::string_view name)
{
    const auto it = o.find(name);
    return it == o.end() ? 0 : wholeNumber(*it).value_or(0);
}

int smallInteger(const Json& o, std::string_view name)
{
    const std::int64_t v = integer(o, name);
    return v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max() ? 0 : int(v);
}

std::string text(const Json& o, std::string_view name)
{
    const auto it = o.find(name);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
}

Json parsed(std::string_view line)
{
    Json o = Json::parse(line.begin(), line.end(), nullptr, false);
    return o.is_object() ? o : Json::object();
}

} // namespace

std::string fieldStart(std::string_view name)
{
    return '"' + std::string(name) + "\":";
}

std::string runRecordLine(const RunRecord& r)
{
    auto text = [](const std::string& bytes) { return platform::utf8FromCodePage(bytes); };
    nlohmann::ordered_json o;
    o[std::string(runfield::kEvent)] = text(r.event);
    o[std::string(runfield::kStart)] = text(r.start);
    o[std::string(runfield::kEnd)] = text(r.end);
    o[std::string(runfield::kExit)] = r.exitStatus;
    o[std::string(runfield::kOutcome)] = text(r.outcome);
    o[std::string(runfield::kFilesUp)] = r.filesUp;
    o[std::string(runfield::kBytesUp)] = r.bytesUp;
    o[std::string(runfield::kFilesDown)] = r.filesDown;
    o[std::string(runfield::kBytesDown)] = r.bytesDown;
    o[std::string(runfield::kTranscript)] = text(r.transcript);
    if (!r.kept.empty())
        o[std::string(runfield::kKept)] = text(r.kept);
    return o.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + '\n';
}

std::optional<ReadRunRecord> readRunRecord(std::string_view line)
{
    Json o = parsed(line);
    if (o.empty()) {
        const std::string glued = '{' + fieldStart(runfield::kEvent);
        if (const auto at = line.rfind(glued); at != std::string_view::npos && at > 0)
            o = parsed(line.substr(at));
    }
    if (o.empty() || !o.contains(runfield::kEvent))
        return std::nullopt;
    ReadRunRecord read;
    RunRecord& r = read.record;
    r.event = text(o, runfield::kEvent);
    r.start = text(o, runfield::kStart);
    r.end = text(o, runfield::kEnd);
    if (const auto exit = o.find(runfield::kExit); exit != o.end() && exit->is_number()) {
        read.hasExit = true;
        r.exitStatus = smallInteger(o, runfield::kExit);
    }
    r.outcome = text(o, runfield::kOutcome);
    r.filesUp = smallInteger(o, runfield::kFilesUp);
    r.filesDown = smallInteger(o, runfield::kFilesDown);
    r.bytesUp = integer(o, runfield::kBytesUp);
    r.bytesDown = integer(o, runfield::kBytesDown);
    r.transcript = text(o, runfield::kTranscript);
    r.kept = text(o, runfield::kKept);
    return read;
}

} // namespace zul::records
