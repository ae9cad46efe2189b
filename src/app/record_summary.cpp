#include "app/record_summary.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "app/report.h"
#include "swf/swf_movie.h"

namespace {

using Json = nlohmann::json;

// Records nest four deep (record, sounds, sound, output); anything deeper
// is no record.
constexpr size_t kMaxDepth = 8;
// A record lists a movie's sounds, empty ones too, and no more.
constexpr size_t kMaxSounds = 2 * kMaxSoundsPerMovie;

// A field's value as the summary takes it: strings and counts only.
struct Value {
    bool isString = false;
    bool isCount = false;
    bool isBool = false;
    bool isNumber = false;  // a count or a fraction
    std::string text;
    uint64_t count = 0;
    double number = 0;
    bool flag = false;
};

// A name as a record writes it: a string under its key, or its bytes in
// base64 under the key and "_bytes".
struct NameField {
    bool haveText = false;
    bool haveBytes = false;
    std::string text;
    std::string bytes;

    // Takes the value when key is this name's; false when it isn't.
    bool Take(const std::string& key, const char* name, const Value& v)
    {
        if (key == name) {
            haveText = v.isString;
            text = v.text;
        } else if (key.size() == std::strlen(name) + 6 && key.starts_with(name) && key.ends_with("_bytes")) {
            haveBytes = true;
            bytes = v.isString ? v.text : "!";  // not base64: no name
        } else {
            return false;
        }
        return true;
    }
    bool Bytes(std::string& name) const { return NameBytes(text, haveText, bytes, haveBytes, name); }
};

// What an output's or the record's own fields say, until the object ends.
struct Fields {
    NameField path;
    NameField realPath;
    bool shaString = false;
    bool sizeCount = false;
};

class CSummarizer final : public nlohmann::json_sax<Json> {
public:
    explicit CSummarizer(RecordSummary& s) : m_s(s) {}

    bool null() override { return Scalar(Value{}); }
    bool boolean(bool v) override
    {
        Value x;
        x.isBool = true;
        x.flag = v;
        return Scalar(x);
    }
    bool number_integer(number_integer_t) override { return Scalar(Value{}); }
    bool number_unsigned(number_unsigned_t v) override
    {
        Value x;
        x.isCount = x.isNumber = true;
        x.count = v;
        x.number = static_cast<double>(v);
        return Scalar(x);
    }
    bool number_float(number_float_t v, const string_t&) override
    {
        Value x;
        x.isNumber = true;
        x.number = v;
        return Scalar(x);
    }
    bool string(string_t& v) override
    {
        Value x;
        x.isString = true;
        x.text = std::move(v);
        return Scalar(x);
    }
    bool binary(binary_t&) override { return Scalar(Value{}); }

    bool start_object(std::size_t) override { return Open(true); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_array() override { return Close(); }
    bool key(string_t& k) override
    {
        m_keys.back() = std::move(k);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool Done()
    {
        if (!m_s.parsed)
            return false;
        if (!m_record.path.Bytes(m_s.path))
            m_s.path.clear();
        if ((m_record.realPath.haveText || m_record.realPath.haveBytes) && !m_record.realPath.Bytes(m_s.realPath))
            m_s.realPath.clear();
        return true;
    }

private:
    // The path of keys to the value met: "" for an array's element.
    bool In(size_t depth, const char* key) const { return m_keys.size() > depth && m_keys[depth] == key; }

    bool Open(bool object)
    {
        if (m_keys.size() >= kMaxDepth)
            return false;
        const size_t depth = m_keys.size();
        if (depth == 0 && !object)
            return false;
        if (depth == 1 && In(0, "sounds") && !object)
            m_s.soundsArray = true;
        if (depth == 1 && In(0, "lost_sources") && !object)
            m_inLost = true;
        if (depth == 2 && m_inLost)
            ++m_s.lostSources;
        if (depth == 2 && m_s.soundsArray && In(0, "sounds") && !AddSound())
            return false;
        if (depth == 3 && In(0, "sounds") && In(2, "output") && object)
            m_s.sounds.back().hasOutput = true;
        // A soundtrack's record: its one file is its one sound.
        if (depth == 1 && In(0, "soundtrack") && object)
            m_s.soundtrack = true;
        if (depth == 2 && m_s.soundtrack && In(0, "soundtrack") && In(1, "output") && object) {
            if (!AddSound())
                return false;
            m_s.sounds.back().hasOutput = true;
            m_s.sounds.back().wholeSaid = true;
            m_s.sounds.back().whole = true;
        }
        m_keys.emplace_back();
        return true;
    }

    // A sound of the array, whatever it is: one that is no object names no output.
    bool AddSound()
    {
        if (m_s.sounds.size() >= kMaxSounds)
            return false;
        m_s.sounds.emplace_back();
        m_output = Fields{};
        return true;
    }

    bool Close()
    {
        if (m_keys.empty())
            return false;
        m_keys.pop_back();
        const size_t depth = m_keys.size();
        if (depth == 1 && In(0, "lost_sources"))
            m_inLost = false;
        if (((depth == 3 && In(0, "sounds") && In(2, "output")) ||
             (depth == 2 && m_s.soundtrack && In(0, "soundtrack") && In(1, "output"))) &&
            !m_s.sounds.empty()) {
            RecordSummary::Output& o = m_s.sounds.back().output;
            o.typed = m_output.path.Bytes(o.path) && m_output.shaString && m_output.sizeCount;
        }
        return true;
    }

    bool Scalar(const Value& v)
    {
        const size_t depth = m_keys.size();
        if (depth == 0)
            return false;  // a line that is a lone value is no record
        if (depth == 1) {
            Record(m_keys[0], v);
        } else if (depth == 2 && In(0, "lost_sources") && m_inLost) {
            ++m_s.lostSources;
        } else if (depth == 2 && In(0, "sounds") && m_s.soundsArray) {
            return AddSound();
        } else if (depth == 3 && In(0, "sounds") && !m_s.sounds.empty()) {
            RecordSummary::Sound& s = m_s.sounds.back();
            if (m_keys[2] == "empty")
                s.empty = v.isBool && v.flag;
            else if (m_keys[2] == "whole") {
                s.wholeSaid = v.isBool;
                s.whole = v.flag;
            }
        } else if (depth == 4 && In(0, "sounds") && In(2, "output") && !m_s.sounds.empty()) {
            OutputField(m_keys[3], v);
        } else if (depth == 2 && In(0, "soundtrack") && m_s.soundtrack) {
            const std::string& k = m_keys[1];
            if (k == "none")
                m_s.none = v.isString ? v.text : std::string();
            else if (k == "lost")
                m_s.lost = v.isString ? v.text : std::string();
            else if (k == "cut")
                m_s.cut = v.isBool && v.flag;
            else if (k == "unplayed")
                m_s.unplayed = v.isNumber && v.number > 0 && v.number < 1e9 ? static_cast<uint32_t>(v.number) : 0;
            else if (k == "duration")
                m_s.seconds = v.isNumber ? v.number : 0;
        } else if (depth == 3 && In(0, "soundtrack") && In(1, "output") && !m_s.sounds.empty()) {
            OutputField(m_keys[2], v);
        }
        return true;
    }

    void OutputField(const std::string& k, const Value& v)
    {
        RecordSummary::Output& o = m_s.sounds.back().output;
        if (m_output.path.Take(k, "path", v))
            return;
        if (k == "size") {
            m_output.sizeCount = v.isCount;
            o.size = v.count;
        } else if (k == "sha256") {
            m_output.shaString = v.isString && IsDigest(v.text);
            o.sha256 = m_output.shaString ? v.text : std::string();
        }
    }

    void Record(const std::string& k, const Value& v)
    {
        if (m_record.path.Take(k, "path", v) || m_record.realPath.Take(k, "real_path", v))
            return;
        if (k == "outcome") {
            m_s.parsed = v.isString;
            m_s.outcome = v.text;
        } else if (k == "output_type") {
            m_s.outputType = v.isString ? v.text : std::string();
        } else if (k == "sha256") {
            m_s.sha256 = v.isString && IsDigest(v.text) ? v.text : std::string();
        } else if (k == "size") {
            m_s.hasSize = v.isCount;
            m_s.size = v.count;
        } else if (k == "unlisted_sounds") {
            m_s.unlisted = v.isCount && v.count <= UINT32_MAX ? v.count : 0;
        }
    }

    RecordSummary& m_s;
    std::vector<std::string> m_keys;  // per open container, the key met last in it
    Fields m_record;
    Fields m_output;
    bool m_inLost = false;
};

}  // namespace

bool IsDigest(const std::string& text)
{
    if (text.size() != 64)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool RecordSummary::NamesOutputs() const
{
    for (const Sound& s : sounds) {
        if (s.hasOutput)
            return true;
    }
    return false;
}

bool NameBytes(const std::string& text, bool haveText, const std::string& base64, bool haveBase64, std::string& name)
{
    name.clear();
    if (haveBase64) {
        if (!FromBase64(base64, name))
            return false;
    } else if (haveText) {
        name = text;
    } else {
        return false;
    }
    // A name is bytes up to a NUL: one that holds one would be read as
    // another name by every call that takes it.
    return name.find('\0') == std::string::npos;
}

bool SummarizeRecord(std::string_view line, RecordSummary& summary)
{
    summary = RecordSummary{};
    CSummarizer handler(summary);
    try {
        if (!Json::sax_parse(line.begin(), line.end(), &handler) || !handler.Done()) {
            summary = RecordSummary{};
            return false;
        }
    } catch (...) {
        summary = RecordSummary{};
        return false;
    }
    return true;
}
