#include "swf/soundtrack.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <queue>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "audio/conversions.h"
#include "audio/mp3_decoder.h"
#include "audio/sound_decoder.h"
#include "audio/wave_format.h"
#include "audio/wave_writer.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "swf/adpcm_decoder.h"
#include "swf/bit_reader.h"
#include "swf/movie_body.h"
#include "swf/outcome_words.h"
#include "swf/output_place.h"
#include "swf/sound_formats.h"
#include "swf/swf_movie.h"
#include "swf/tag_reader.h"
#include "swf/timeline.h"

namespace {

constexpr uint64_t kOutRate = 44100;
constexpr size_t kMaxSounding = 1024;
// Sprites in sprites: no authoring tool nests them deeper.
constexpr int kMaxNesting = 32;
// Sprite instances alive at once, and frames times instances played: a
// movie that asks for more is played up to there.
constexpr size_t kMaxSpriteInstances = 4096;
constexpr uint64_t kMaxSteps = uint64_t{1} << 26;
// The most a soundtrack holds: what a WAV file of 16-bit stereo describes
// (six and a half hours).
constexpr uint64_t kMaxSamples = kMaxWaveDataBytes / 4;
// Decoded started sounds are kept while the soundtrack is made; past this
// they are not started.
constexpr uint64_t kMaxDecodedBytes = uint64_t{512} << 20;
constexpr size_t kBlock = 4096;
// Sounds started in all: past this, starts are refused like those past the
// most that sound at once.
constexpr uint32_t kMaxInstances = 1u << 18;
constexpr const char* kSuffix = "_soundtrack";

uint64_t FrameStart(uint64_t k, uint32_t rate88)
{
    return k * kOutRate * 256 / rate88;
}

// Samples at a sound's own rate, one or two channels interleaved.
struct Pcm {
    uint32_t rate = 0;
    int channels = 1;
    std::vector<int16_t> samples;
    uint64_t Frames() const { return samples.size() / static_cast<size_t>(channels); }
};

// What the coded sounds of one movie may decode to, as extraction bounds it.
struct CodedBudget {
    uint64_t in = 0;
    uint64_t out = 0;
    int threads = 0;  // MP3 streams decoded ahead on threads of their own now
    // How many of count samples fit.
    size_t Take(size_t count)
    {
        const uint64_t bound = kDecodedAllowance + kMaxDecodedPerCodedByte * in;
        const uint64_t room = bound > out ? (bound - out) / 2 : 0;
        const size_t allowed = count <= room ? count : static_cast<size_t>(room & ~uint64_t{1});
        out += uint64_t{allowed} * 2;
        return allowed;
    }
};

void AppendWidened(std::vector<int16_t>& to, const uint8_t* bytes, size_t n, bool is16)
{
    if (is16) {
        for (size_t i = 0; i + 1 < n; i += 2)
            to.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    } else {
        for (size_t i = 0; i < n; ++i)
            to.push_back(static_cast<int16_t>((bytes[i] - 128) * 256));
    }
}

// What decoding a DefineSound gave: samples, none, or none because this
// build has no decoder for a format a player would play.
enum class Decoding : uint8_t { Samples, Nothing, NoDecoder };

// A DefineSound's samples, decoded as /wav decodes it.
Decoding DecodeEventSound(const DefinedSound& s, CodedBudget& budget, Pcm& out)
{
    out = Pcm{};
    out.channels = s.stereo ? 2 : 1;
    out.rate = SampleRateOfIndex(s.rateIndex);
    const uint8_t* data = s.data.Data();
    switch (s.format) {
    case 0:
    case 3: {
        const size_t frameBytes = static_cast<size_t>(out.channels) * (s.is16Bit ? 2 : 1);
        AppendWidened(out.samples, data, s.data.size / frameBytes * frameBytes, s.is16Bit);
        break;
    }
    case 1: {
        CBitReader reader;
        reader.Attach(s.data.body, s.data.bodyLength);
        reader.SetCursor(s.data.at);
        const int codeBits = (reader.ByteAt(reader.Cursor()) >> 6) + 2;
        const uint32_t frames =
            CAdpcmDecoder::FramesThatFit(s.sampleCount, s.data.size * 8ull, codeBits, s.stereo, s.is16Bit);
        std::vector<uint8_t> bytes(static_cast<size_t>(frames) * static_cast<size_t>(out.channels) * (s.is16Bit ? 2 : 1));
        CAdpcmDecoder(reader).Decode(frames, s.stereo, s.is16Bit, bytes.data());
        AppendWidened(out.samples, bytes.data(), bytes.size(), s.is16Bit);
        break;
    }
    case 2: {
        CMp3Decoder decoder;
        if (s.data.size == 0 || !decoder.Open({Mp3Piece{data, s.data.size}}))
            return Decoding::Nothing;
        out.rate = static_cast<uint32_t>(decoder.SampleRate());
        out.channels = decoder.Channels();
        // The seek field counts the samples to skip where the sound starts.
        uint64_t skip = s.seekSamples > 0 ? static_cast<uint64_t>(s.seekSamples) : 0;
        DecodeMp3Frames(decoder, [&](const int16_t* l, const int16_t* r, size_t n) {
            for (size_t i = 0; i < n; ++i) {
                if (skip > 0) {
                    --skip;
                    continue;
                }
                out.samples.push_back(l[i]);
                if (out.channels == 2)
                    out.samples.push_back(r[i]);
            }
            return out.samples.size() * 2 <= kMaxDecodedBytes;
        });
        break;
    }
    default: {
        CodedLayout coded{};
        CSoundDecoder decoder;
        if (!CodedLayoutOf(s.format, s.rateIndex, s.stereo, coded))
            return Decoding::Nothing;
        if (!decoder.Open(coded.codec, coded.rate, coded.channels))
            return Decoding::NoDecoder;
        out.rate = coded.rate;
        out.channels = coded.channels;
        budget.in += s.data.size;
        const auto sink = [&](const int16_t* samples, size_t count) {
            const size_t allowed = budget.Take(count);
            out.samples.insert(out.samples.end(), samples, samples + allowed);
            return allowed == count;
        };
        decoder.Decode(data, s.data.size, sink);
        decoder.Flush(sink);
        break;
    }
    }
    out.samples.resize(out.Frames() * static_cast<size_t>(out.channels));
    return out.rate > 0 && out.Frames() > 0 ? Decoding::Samples : Decoding::Nothing;
}

// The samples of a stream run, decoded as they are needed.
class CStreamSource {
public:
    CStreamSource(const StreamRun& run, CodedBudget& budget) : m_run(run), m_budget(budget)
    {
        const StreamHeadInfo& h = run.head;
        m_channels = h.stereo ? 2 : 1;
        m_rate = SampleRateOfIndex(h.rateIndex);
        if (h.format == 2) {
            std::vector<Mp3Piece> pieces;
            for (const TagBytes& b : run.blocks) {
                if (b.size > 4)
                    pieces.push_back(Mp3Piece{b.Data() + 4, b.size - 4u});
            }
            // Less the first block's SeekSamples.
            if (!run.blocks.empty() && run.blocks[0].size >= 4) {
                const auto seek = static_cast<int16_t>(run.blocks[0].Data()[2] | run.blocks[0].Data()[3] << 8);
                m_skip = seek > 0 ? static_cast<uint64_t>(seek) : 0;
            }
            m_mp3 = std::make_unique<CMp3Decoder>();
            m_next = run.blocks.size();  // its blocks are the decoder's
            if (!m_mp3->Open(std::move(pieces))) {
                m_mp3.reset();
                m_rate = 0;
                return;
            }
            m_rate = static_cast<uint32_t>(m_mp3->SampleRate());
            m_channels = m_mp3->Channels();
            StartAhead();
        } else if (h.format >= 4) {
            CodedLayout coded{};
            m_coded = std::make_unique<CSoundDecoder>();
            const bool known = CodedLayoutOf(h.format, h.rateIndex, h.stereo, coded);
            if (!known || !m_coded->Open(coded.codec, coded.rate, coded.channels)) {
                m_noDecoder = known;
                m_coded.reset();
                m_next = run.blocks.size();
                return;
            }
            m_rate = coded.rate;
            m_channels = coded.channels;
        }
    }

    ~CStreamSource() { StopAhead(); }
    CStreamSource(const CStreamSource&) = delete;
    CStreamSource& operator=(const CStreamSource&) = delete;

    uint32_t Rate() const { return m_rate; }
    int Channels() const { return m_channels; }
    // Its format is one a player would play, and this build can't decode it.
    bool NoDecoder() const { return m_noDecoder; }

    // Appends the next samples to out (interleaved); false at the end.
    bool More(std::vector<int16_t>& out)
    {
        if (m_mp3)
            return MoreMp3(out);
        if (m_next >= m_run.blocks.size()) {
            if (m_coded) {
                m_coded->Flush([&](const int16_t* samples, size_t count) { return Coded(out, samples, count); });
                m_coded.reset();
                return true;
            }
            return false;
        }
        const TagBytes& b = m_run.blocks[m_next++];
        const StreamHeadInfo& h = m_run.head;
        if (m_coded) {
            m_budget.in += b.size;
            m_coded->Decode(b.Data(), b.size, [&](const int16_t* samples, size_t count) { return Coded(out, samples, count); });
        } else if (h.format == 1) {
            CBitReader reader;
            reader.Attach(b.body, b.bodyLength);
            reader.SetCursor(b.at);
            const int codeBits = (reader.ByteAt(reader.Cursor()) >> 6) + 2;
            const uint32_t frames =
                CAdpcmDecoder::FramesThatFit(h.samplesPerBlock, b.size * 8ull, codeBits, h.stereo, h.is16Bit);
            std::vector<uint8_t> bytes(static_cast<size_t>(frames) * static_cast<size_t>(m_channels) * (h.is16Bit ? 2 : 1));
            CAdpcmDecoder(reader).Decode(frames, h.stereo, h.is16Bit, bytes.data());
            AppendWidened(out, bytes.data(), bytes.size(), h.is16Bit);
        } else {
            const size_t frameBytes = static_cast<size_t>(m_channels) * (h.is16Bit ? 2 : 1);
            AppendWidened(out, b.Data(), b.size / frameBytes * frameBytes, h.is16Bit);
        }
        return true;
    }

private:
    // The next frame of the MP3 stream, less what is to be skipped at its
    // start; false at its end.
    bool DecodeMp3(std::vector<int16_t>& out)
    {
        std::array<int16_t, kMp3MaxFrameSamples> l{};
        std::array<int16_t, kMp3MaxFrameSamples> r{};
        size_t n = 0;
        bool end = false;
        if (!NextMp3Frame(*m_mp3, l.data(), r.data(), n, end) || (end && n == 0))
            return false;
        for (size_t i = 0; i < n; ++i) {
            if (m_skip > 0) {
                --m_skip;
                continue;
            }
            out.push_back(l[i]);
            if (m_channels == 2)
                out.push_back(r[i]);
        }
        return true;
    }

    // A long MP3 stream is decoded a few frames ahead on a thread of its
    // own while the mix goes on: the decoder takes most of a soundtrack's
    // time. Frames come out in order, so the mix is the same either way.
    struct Ahead {
        std::thread thread;
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::vector<int16_t>> frames;
        bool ended = false;
        bool stop = false;
    };
    static constexpr size_t kFramesAhead = 64;
    static constexpr int kMostThreads = 2;

    void StartAhead()
    {
        if (m_budget.threads >= kMostThreads)
            return;
        m_ahead = std::make_unique<Ahead>();
        try {
            const platform::EndingSignalsHeld held;  // kept by the thread, as the count's
            m_ahead->thread = std::thread([this] {
                for (;;) {
                    std::vector<int16_t> frame;
                    const bool more = DecodeMp3(frame);
                    std::unique_lock<std::mutex> hold(m_ahead->lock);
                    m_ahead->changed.wait(hold, [this] { return m_ahead->stop || m_ahead->frames.size() < kFramesAhead; });
                    if (m_ahead->stop)
                        return;
                    if (!more) {
                        m_ahead->ended = true;
                        m_ahead->changed.notify_all();
                        return;
                    }
                    m_ahead->frames.push_back(std::move(frame));
                    m_ahead->changed.notify_all();
                }
            });
            ++m_budget.threads;
        } catch (const std::system_error&) {
            m_ahead.reset();  // no thread to be had: decoded as it is needed
        }
    }

    void StopAhead()
    {
        if (!m_ahead)
            return;
        {
            std::lock_guard<std::mutex> hold(m_ahead->lock);
            m_ahead->stop = true;
        }
        m_ahead->changed.notify_all();
        m_ahead->thread.join();
        m_ahead.reset();
        --m_budget.threads;
    }

    bool MoreMp3(std::vector<int16_t>& out)
    {
        if (!m_ahead) {
            if (DecodeMp3(out))
                return true;
            m_mp3.reset();
            return false;
        }
        std::unique_lock<std::mutex> hold(m_ahead->lock);
        m_ahead->changed.wait(hold, [this] { return m_ahead->ended || !m_ahead->frames.empty(); });
        if (m_ahead->frames.empty()) {
            hold.unlock();
            StopAhead();
            m_mp3.reset();
            return false;
        }
        out.insert(out.end(), m_ahead->frames.front().begin(), m_ahead->frames.front().end());
        m_ahead->frames.pop_front();
        m_ahead->changed.notify_all();
        return true;
    }

    bool Coded(std::vector<int16_t>& out, const int16_t* samples, size_t count)
    {
        const size_t allowed = m_budget.Take(count);
        out.insert(out.end(), samples, samples + allowed);
        return allowed == count;
    }

    const StreamRun& m_run;
    CodedBudget& m_budget;
    uint32_t m_rate = 0;
    int m_channels = 1;
    size_t m_next = 0;
    uint64_t m_skip = 0;
    std::unique_ptr<CMp3Decoder> m_mp3;
    std::unique_ptr<CSoundDecoder> m_coded;
    std::unique_ptr<Ahead> m_ahead;
    bool m_noDecoder = false;
};

uint64_t ConvertedLength(uint64_t n, uint32_t rate)
{
    return rate ? (n * kOutRate + rate - 1) / rate : 0;
}

// An envelope's levels at an instance's own sample t, which moves on one
// sample at a time: between two points the level is the first's plus the
// difference times the way along, divided toward zero, kept as a quotient
// and a remainder that grow by a fixed step, so no sample costs a division.
// The points are the start's own, kept by the timelines for the whole mix.
class CEnvelope {
public:
    CEnvelope() = default;
    explicit CEnvelope(const std::vector<EnvelopePoint>* points) : m_points(points) {}
    bool Empty() const { return !m_points || m_points->empty(); }

    // Puts the envelope at the instance's sample t.
    void Seek(uint64_t t)
    {
        m_t = t;
        m_next = 0;
        Settle();
    }
    // Samples from the one it is at that keep to one rule: up to the next
    // point, or all when there is none.
    uint64_t Steady() const
    {
        return m_next < m_points->size() ? (*m_points)[m_next].position - m_t : UINT64_MAX;
    }
    // The levels at the sample it is at, and then on to the next, which
    // must stay within Steady().
    void Levels(int64_t& left, int64_t& right)
    {
        left = m_channel[0].base + m_channel[0].sign * m_channel[0].q;
        right = m_channel[1].base + m_channel[1].sign * m_channel[1].q;
        ++m_t;
        if (m_span > 0) {
            for (Channel& c : m_channel) {
                c.q += c.qStep;
                c.r += c.rStep;
                if (c.r >= m_span) {
                    c.r -= m_span;
                    ++c.q;
                }
            }
        }
    }
    // Once Steady() samples are past: the next rule.
    void Next() { Settle(); }

private:
    struct Channel {
        int64_t base = 0;
        int64_t sign = 1;
        int64_t q = 0, r = 0;          // the way along times the difference, over the span
        int64_t qStep = 0, rStep = 0;  // what one sample adds to them
    };

    static int64_t LevelOf(const EnvelopePoint& e, int ch) { return std::min<int64_t>(ch ? e.right : e.left, 32768); }

    // Finds the points around the sample it is at and sets each channel up.
    void Settle()
    {
        const std::vector<EnvelopePoint>& points = *m_points;
        while (m_next < points.size() && points[m_next].position <= m_t)
            ++m_next;
        m_span = 0;
        for (int ch = 0; ch < 2; ++ch) {
            Channel& c = m_channel[ch];
            c = Channel{};
            if (m_next == 0 || m_next == points.size()) {
                // Held: the first point's level before it, the last's after.
                c.base = LevelOf(m_next == 0 ? points.front() : points.back(), ch);
                continue;
            }
            const EnvelopePoint& a = points[m_next - 1];
            const EnvelopePoint& b = points[m_next];
            m_span = static_cast<int64_t>(b.position - a.position);
            const int64_t difference = LevelOf(b, ch) - LevelOf(a, ch);
            const int64_t step = difference < 0 ? -difference : difference;
            const int64_t along = static_cast<int64_t>(m_t - a.position);
            c.base = LevelOf(a, ch);
            c.sign = difference < 0 ? -1 : 1;
            c.q = step * along / m_span;
            c.r = step * along % m_span;
            c.qStep = step / m_span;
            c.rStep = step % m_span;
        }
    }

    const std::vector<EnvelopePoint>* m_points = nullptr;
    size_t m_next = 0;
    uint64_t m_t = 0;
    int64_t m_span = 0;  // samples between the two points the level runs between; 0 when held
    Channel m_channel[2];
};

// A started sound as heard: its loops of in to out, and its envelope.
struct EventVoice {
    uint16_t sound = 0;
    uint64_t start = 0;
    uint64_t end = 0;  // exclusive; a SyncStop or the tail may bring it earlier
    const Pcm* pcm = nullptr;
    uint64_t in = 0;
    uint64_t loopLength = 1;
    CEnvelope envelope;
    bool stoppedEarly = false;
};

// A stream run as heard, cut where its timeline stops, loops or goes.
struct StreamVoice {
    const StreamRun* run = nullptr;
    uint64_t start = 0;
    uint64_t cut = UINT64_MAX;
    std::unique_ptr<CStreamSource> source;
    std::vector<int16_t> buffer;  // decoded source frames from base on
    uint64_t base = 0;
    bool exhausted = false;
    bool done = false;
    uint64_t next = 0;  // the next own sample
};

}  // namespace

// Plans the voices of the timelines, then mixes them.
struct CSoundtrack::Mix {
    const CMovieTimelines& movie;
    uint32_t rate88;
    SoundtrackSummary& summary;
    CodedBudget budget;
    std::map<uint16_t, std::unique_ptr<Pcm>> decoded;  // null: could not be decoded
    uint64_t decodedBytes = 0;
    std::vector<EventVoice> events;
    std::vector<std::unique_ptr<StreamVoice>> streams;
    std::set<uint16_t> placed;
    std::set<std::string> warned;
    uint64_t heard = 0;  // sounds the timelines started and streams they played, heard or not

    // One placed timeline.
    struct Instance {
        const Timeline* timeline = nullptr;  // null: a character that is no sprite
        uint16_t character = 0;
        Instance* parent = nullptr;
        int nesting = 0;
        uint32_t frame = 0;
        bool frozen = false;    // plays no more frames: stopped, or a single frame played
        bool stopAfter = false; // a stop action in the frame being played
        StreamVoice* stream = nullptr;
        std::map<uint16_t, std::unique_ptr<Instance>> children;  // by depth
    };
    Instance root;
    size_t alive = 0;
    // Event voices sounding now: the earliest end first.
    std::priority_queue<std::pair<uint64_t, size_t>, std::vector<std::pair<uint64_t, size_t>>, std::greater<>> sounding;
    size_t soundingCount = 0;
    // Per sound, its voices that may still sound.
    std::map<uint16_t, std::vector<size_t>> bySound;

    Mix(const CMovieTimelines& m, uint32_t r, SoundtrackSummary& s) : movie(m), rate88(r), summary(s) {}

    void Warn(const std::string& text)
    {
        if (warned.insert(text).second)
            summary.warnings.push_back(text);
    }

    // A sound a player would play that this soundtrack can't: a loss.
    void Lose(const std::string& text)
    {
        ++summary.unplayed;
        Warn(text);
    }

    void Cut(Instance& inst, uint64_t at)
    {
        if (inst.stream && inst.stream->cut > at)
            inst.stream->cut = std::max(at, inst.stream->start);
        inst.stream = nullptr;
        for (auto& [depth, child] : inst.children)
            Cut(*child, at);
    }

    size_t Count(const Instance& inst) const
    {
        size_t n = 1;
        for (const auto& [depth, child] : inst.children)
            n += Count(*child);
        return n;
    }

    void Remove(Instance& inst, uint16_t depth, uint64_t at)
    {
        const auto it = inst.children.find(depth);
        if (it == inst.children.end())
            return;
        Cut(*it->second, at);
        alive -= Count(*it->second);
        inst.children.erase(it);
    }

    void Place(Instance& inst, const Placement& p, uint64_t at)
    {
        if (!p.hasCharacter)
            return;  // a move changes nothing heard
        const auto it = inst.children.find(p.depth);
        if (it != inst.children.end() && it->second->character == p.character)
            return;  // what stands there stays as it is
        Remove(inst, p.depth, at);
        auto child = std::make_unique<Instance>();
        child->character = p.character;
        child->parent = &inst;
        child->nesting = inst.nesting + 1;
        const auto sprite = movie.sprites.find(p.character);
        if (sprite != movie.sprites.end()) {
            bool own = false;
            for (const Instance* a = &inst; a; a = a->parent)
                own = own || (a->timeline && a->character == p.character && a != &root);
            if (own) {
                Warn("sprite " + std::to_string(p.character) + " places itself: that branch ends there");
            } else if (child->nesting > kMaxNesting) {
                Warn("sprites nest deeper than " + std::to_string(kMaxNesting) + ": that branch ends there");
            } else if (alive >= kMaxSpriteInstances) {
                Warn("more than " + std::to_string(kMaxSpriteInstances) + " sprites at once: the others are not played");
            } else {
                child->timeline = &sprite->second;
                placed.insert(p.character);
            }
        }
        ++alive;
        inst.children[p.depth] = std::move(child);
    }

    const Pcm* Decoded(uint16_t id)
    {
        auto it = decoded.find(id);
        if (it != decoded.end())
            return it->second.get();
        const auto sound = movie.sounds.find(id);
        auto pcm = std::make_unique<Pcm>();
        if (sound == movie.sounds.end()) {
            Warn("a frame starts sound " + std::to_string(id) + ", which the movie does not define");
            pcm.reset();
        } else if (decodedBytes >= kMaxDecodedBytes) {
            Lose("the sounds started take more than " + std::to_string(kMaxDecodedBytes >> 20) +
                 " MiB decoded: the others are not played");
            pcm.reset();
        } else if (const Decoding got = DecodeEventSound(sound->second, budget, *pcm); got != Decoding::Samples) {
            if (got == Decoding::NoDecoder)
                Lose("sound " + std::to_string(id) + " is not played: " + NoDecoderWords(sound->second.format));
            else
                Warn("sound " + std::to_string(id) + " decodes to no sound");
            pcm.reset();
        } else {
            decodedBytes += pcm->samples.size() * 2;
        }
        return decoded.emplace(id, std::move(pcm)).first->second.get();
    }

    void Start(const SoundStart& s, uint64_t at)
    {
        ++heard;
        uint16_t id = s.soundId;
        if (s.byClass) {
            const auto cls = movie.classes.find(s.className);
            if (cls == movie.classes.end()) {
                Warn("a frame starts class " + s.className + ", which no SymbolClass names");
                return;
            }
            id = cls->second;
        }
        while (!sounding.empty() && sounding.top().first <= at) {
            if (!events[sounding.top().second].stoppedEarly)
                --soundingCount;
            sounding.pop();
        }
        // Its voices that sound now; those that ended are let go.
        std::vector<size_t>& mine = bySound[id];
        std::erase_if(mine, [&](size_t i) { return events[i].end <= at; });
        if (s.info.syncStop) {
            for (const size_t i : mine) {
                EventVoice& v = events[i];
                v.end = at;
                v.stoppedEarly = true;
                --soundingCount;
                ++summary.stopped;
            }
            mine.clear();
            return;
        }
        if (s.info.syncNoMultiple && !mine.empty()) {
            ++summary.notMultiple;
            return;
        }
        if (soundingCount >= kMaxSounding || summary.instances >= kMaxInstances) {
            ++summary.refused;
            return;
        }
        const Pcm* pcm = Decoded(id);
        if (!pcm)
            return;
        const uint64_t length = ConvertedLength(pcm->Frames(), pcm->rate);
        const uint64_t in = s.info.hasInPoint ? s.info.inPoint : 0;
        const uint64_t out = s.info.hasOutPoint ? std::min<uint64_t>(s.info.outPoint, length - 1) : length - 1;
        if (in > out || in >= length)
            return;
        EventVoice v;
        v.sound = id;
        v.start = at;
        v.pcm = pcm;
        v.in = in;
        v.loopLength = out - in + 1;
        const uint64_t loops = s.info.hasLoops && s.info.loops > 0 ? s.info.loops : 1;
        v.end = at + v.loopLength * loops;
        v.envelope = CEnvelope(&s.info.envelope);
        events.push_back(std::move(v));
        sounding.emplace(events.back().end, events.size() - 1);
        mine.push_back(events.size() - 1);
        ++soundingCount;
        ++summary.instances;
    }

    void StartStream(Instance& inst, const StreamRun& run, uint64_t at)
    {
        if (inst.stream && inst.stream->cut > at)
            inst.stream->cut = at;
        inst.stream = nullptr;
        ++heard;
        if (streams.size() >= kMaxInstances) {
            Warn("more than " + std::to_string(kMaxInstances) + " stream runs: the others are not played");
            return;
        }
        auto voice = std::make_unique<StreamVoice>();
        voice->run = &run;
        voice->start = at;
        inst.stream = voice.get();
        streams.push_back(std::move(voice));
        ++summary.streams;
    }

    // Plays the frame of inst that frame g holds, then its children's.
    void PlayFrame(Instance& inst, uint64_t g)
    {
        const uint64_t at = FrameStart(g, rate88);
        if (inst.timeline && !inst.frozen && inst.frame < inst.timeline->shown) {
            const auto& events = inst.timeline->frames[inst.frame];
            for (const TimelineEvent& e : events) {
                switch (e.kind) {
                case TimelineEvent::Place: Place(inst, e.place, at); break;
                case TimelineEvent::Remove: Remove(inst, e.depth, at); break;
                case TimelineEvent::Start: Start(movie.starts[e.start], at); break;
                case TimelineEvent::Stop: inst.stopAfter = true; break;
                }
            }
            for (const StreamRun& run : inst.timeline->streams) {
                if (run.firstFrame == inst.frame)
                    StartStream(inst, run, at);
            }
        }
        for (auto& [depth, child] : inst.children)
            PlayFrame(*child, g);
        if (inst.stopAfter) {
            inst.stopAfter = false;
            inst.frozen = true;
            if (inst.stream && inst.stream->cut > FrameStart(g + 1, rate88))
                inst.stream->cut = FrameStart(g + 1, rate88);
            inst.stream = nullptr;
        }
    }

    // Moves inst and its children on to their next frames after frame g.
    void Advance(Instance& inst, uint64_t g)
    {
        for (auto& [depth, child] : inst.children)
            Advance(*child, g);
        if (!inst.timeline || inst.frozen || &inst == &root)
            return;
        const uint32_t shown = inst.timeline->shown;
        if (shown <= 1) {
            inst.frozen = true;  // one frame plays once
            return;
        }
        if (++inst.frame < shown)
            return;
        // It loops: its stream starts again with it, and what its first frame
        // places again with the same character stays.
        const uint64_t at = FrameStart(g + 1, rate88);
        inst.frame = 0;
        if (inst.stream && inst.stream->cut > at)
            inst.stream->cut = at;
        inst.stream = nullptr;
        std::set<std::pair<uint16_t, uint16_t>> again;
        for (const TimelineEvent& e : inst.timeline->frames[0]) {
            if (e.kind == TimelineEvent::Place && e.place.hasCharacter)
                again.emplace(e.place.depth, e.place.character);
        }
        std::vector<uint16_t> gone;
        for (const auto& [depth, child] : inst.children) {
            if (!again.count({depth, child->character}))
                gone.push_back(depth);
        }
        for (const uint16_t depth : gone)
            Remove(inst, depth, at);
    }

    // The voices sounding or still to start, in the order they start.
    std::vector<size_t> activeEvents;
    size_t nextEvent = 0;
    std::vector<StreamVoice*> activeStreams;
    size_t nextStream = 0;
    uint64_t mixed = 0;  // samples mixed so far
    std::array<int32_t, kBlock> accLeft{};
    std::array<int32_t, kBlock> accRight{};
    std::array<int16_t, kBlock> outLeft{};
    std::array<int16_t, kBlock> outRight{};

    // Takes a block of the soundtrack; false stops the render.
    using Sink = std::function<bool(const int16_t* left, const int16_t* right, size_t n)>;

    // Mixes every voice known from the samples mixed so far up to to.
    bool MixTo(uint64_t to, const Sink& sink)
    {
        while (mixed < to) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, to - mixed));
            for (; nextEvent < events.size() && events[nextEvent].start < mixed + n; ++nextEvent)
                activeEvents.push_back(nextEvent);
            for (; nextStream < streams.size() && streams[nextStream]->start < mixed + n; ++nextStream)
                activeStreams.push_back(streams[nextStream].get());
            if (activeEvents.empty() && activeStreams.empty()) {
                // Silence, as long stretches of a slow movie are.
                std::fill_n(outLeft.begin(), n, int16_t{0});
                std::fill_n(outRight.begin(), n, int16_t{0});
            } else {
                std::fill_n(accLeft.begin(), n, 0);
                std::fill_n(accRight.begin(), n, 0);
                for (const size_t i : activeEvents)
                    RenderEvent(events[i], mixed, n, accLeft.data(), accRight.data());
                for (StreamVoice* v : activeStreams)
                    RenderStream(*v, mixed, n, accLeft.data(), accRight.data());
                // Clamped once, each sample that had to be counted.
                for (size_t k = 0; k < n; ++k) {
                    const auto clamp = [this](int32_t v) {
                        const int32_t c = std::clamp<int32_t>(v, -32768, 32767);
                        summary.clipped += c != v ? 1 : 0;
                        return static_cast<int16_t>(c);
                    };
                    outLeft[k] = clamp(accLeft[k]);
                    outRight[k] = clamp(accRight[k]);
                }
            }
            mixed += n;
            std::erase_if(activeEvents, [&](size_t i) { return events[i].end <= mixed; });
            std::erase_if(activeStreams, [&](StreamVoice* v) {
                if (!v->done && v->cut > mixed)
                    return false;
                v->source.reset();
                v->buffer = {};
                return true;
            });
            if (!sink(outLeft.data(), outRight.data(), n))
                return false;
        }
        return true;
    }

    // Plays the main timeline once and mixes what it plays, then the tail:
    // the soundtrack's length, or 0 when sink stopped it.
    uint64_t Play(uint64_t tail, const Sink& sink, const std::function<void(double)>& progress)
    {
        root.timeline = &movie.main;
        const uint32_t frames = movie.main.shown;
        uint64_t steps = 0;
        uint64_t g = 0;
        bool stopped = false;
        for (; g < frames && !stopped; ++g) {
            if (FrameStart(g, rate88) >= kMaxSamples) {
                summary.cut = true;
                break;
            }
            if (!MixTo(FrameStart(g, rate88), sink))
                return 0;
            root.frame = static_cast<uint32_t>(g);
            PlayFrame(root, g);
            steps += alive + 1;
            stopped = root.frozen;
            if (steps > kMaxSteps) {
                Warn("the timelines play too many sprites for too long: played up to frame " + std::to_string(g + 1));
                stopped = true;
            }
            Advance(root, g);
            if (progress)
                progress(static_cast<double>(g) / frames);
        }
        summary.frames = static_cast<uint32_t>(g);
        const uint64_t end = std::min(FrameStart(g, rate88), kMaxSamples);
        summary.timelineSamples = end;
        // Every stream ends with the main timeline; started sounds ring on.
        for (auto& v : streams)
            v->cut = std::min(v->cut, end);
        uint64_t last = end;
        for (EventVoice& v : events) {
            v.end = std::min(v.end, end + tail);
            last = std::max(last, v.end);
        }
        if (last > kMaxSamples) {
            summary.cut = true;
            last = kMaxSamples;
        }
        if (!MixTo(last, sink))
            return 0;
        return last;
    }

    void RenderEvent(EventVoice& v, uint64_t first, size_t n, int32_t* left, int32_t* right);
    void RenderStream(StreamVoice& v, uint64_t first, size_t n, int32_t* left, int32_t* right);
};

namespace {

// Sample f/44100 of the way from a to b, as the linear rule has it.
inline int32_t Lerp(int32_t a, int32_t b, uint64_t f)
{
    return a + static_cast<int32_t>(static_cast<int64_t>(b - a) * static_cast<int64_t>(f) /
                                    static_cast<int64_t>(kOutRate));
}

// Adds count samples of a sound from its converted sample j on, which stay
// within one loop, to left and right; i and f say where j falls in the
// sound's own samples, and move on with it. One loop per kind of sound, so
// that nothing is decided per sample.
template <bool Stereo, bool Enveloped>
void AddSamples(const int16_t* s, uint64_t last, uint64_t rate, uint64_t& i, uint64_t& f, size_t count, CEnvelope& envelope,
                int32_t* left, int32_t* right)
{
    while (count > 0) {
        // A stretch over which the envelope keeps to one rule.
        size_t n = count;
        if constexpr (Enveloped)
            n = static_cast<size_t>(std::min<uint64_t>(count, envelope.Steady()));
        for (size_t k = 0; k < n; ++k) {
            const uint64_t i1 = i < last ? i + 1 : last;
            int64_t sl;
            int64_t sr;
            if constexpr (Stereo) {
                sl = Lerp(s[2 * i], s[2 * i1], f);
                sr = Lerp(s[2 * i + 1], s[2 * i1 + 1], f);
            } else {
                sl = sr = Lerp(s[i], s[i1], f);
            }
            if constexpr (Enveloped) {
                int64_t levelLeft;
                int64_t levelRight;
                envelope.Levels(levelLeft, levelRight);
                // floor(s * level / 32768): an arithmetic shift rounds down.
                sl = (sl * levelLeft) >> 15;
                sr = (sr * levelRight) >> 15;
            }
            left[k] += static_cast<int32_t>(sl);
            right[k] += static_cast<int32_t>(sr);
            f += rate;
            i += f / kOutRate;
            f %= kOutRate;
        }
        left += n;
        right += n;
        count -= n;
        if constexpr (Enveloped) {
            if (count > 0)
                envelope.Next();
        }
    }
}

}  // namespace

void CSoundtrack::Mix::RenderEvent(EventVoice& v, uint64_t first, size_t n, int32_t* left, int32_t* right)
{
    const uint64_t from = std::max(first, v.start);
    const uint64_t to = std::min(first + n, v.end);
    if (from >= to)
        return;
    const Pcm& p = *v.pcm;
    const bool stereo = p.channels == 2;
    const bool enveloped = !v.envelope.Empty();
    const uint64_t t = from - v.start;
    if (enveloped)
        v.envelope.Seek(t);
    const auto add = stereo ? (enveloped ? AddSamples<true, true> : AddSamples<true, false>)
                            : (enveloped ? AddSamples<false, true> : AddSamples<false, false>);
    // Run by run, each to the end of its loop (j counts samples of the sound
    // brought to 44,100 Hz).
    uint64_t within = t % v.loopLength;
    int32_t* l = left + (from - first);
    int32_t* r = right + (from - first);
    for (uint64_t remaining = to - from; remaining > 0;) {
        const uint64_t j = v.in + within;
        uint64_t i = j * p.rate / kOutRate;
        uint64_t f = j * p.rate % kOutRate;
        const size_t run = static_cast<size_t>(std::min(remaining, v.loopLength - within));
        add(p.samples.data(), p.Frames() - 1, p.rate, i, f, run, v.envelope, l, r);
        l += run;
        r += run;
        remaining -= run;
        within = 0;
    }
}

void CSoundtrack::Mix::RenderStream(StreamVoice& v, uint64_t first, size_t n, int32_t* left, int32_t* right)
{
    if (!v.source) {
        v.source = std::make_unique<CStreamSource>(*v.run, budget);
        if (v.source->NoDecoder())
            Lose("a stream is not played: " + NoDecoderWords(v.run->head.format));
        v.done = v.source->Rate() == 0 || v.source->NoDecoder();
    }
    const uint64_t from = std::max(first, v.start + v.next);
    const uint64_t to = std::min(first + n, v.cut);
    if (v.done || from >= to) {
        v.done = v.done || v.start + v.next >= v.cut;
        return;
    }
    const uint64_t rate = v.source->Rate();
    const size_t channels = static_cast<size_t>(v.source->Channels());
    // The source frames the block needs, one more for the last to lean on.
    const uint64_t lastJ = to - 1 - v.start;
    const uint64_t need = lastJ * rate / kOutRate + 2;
    while (!v.exhausted && v.base + v.buffer.size() / channels < need)
        v.exhausted = !v.source->More(v.buffer);
    const uint64_t held = v.buffer.size() / channels;
    if (held == 0) {
        v.done = v.exhausted;
        return;
    }
    const int16_t* s = v.buffer.data();
    const uint64_t end = v.base + held;  // frames decoded so far
    uint64_t j = from - v.start;
    uint64_t i = j * rate / kOutRate;
    uint64_t f = j * rate % kOutRate;
    const size_t right1 = channels == 2 ? 1 : 0;
    if (rate == kOutRate) {
        // At 44,100 Hz a sample is the stream's own, whole.
        const uint64_t count = std::min(to - from, end > i ? end - i : 0);
        const int16_t* a = s + (i - v.base) * channels;
        for (uint64_t k = 0; k < count; ++k, a += channels) {
            left[from - first + k] += a[0];
            right[from - first + k] += a[right1];
        }
        i += count;
        j += count;
        v.done = count < to - from;
    } else {
        for (uint64_t at = from; at < to; ++at) {
            if (i >= end) {
                // Past the last sample: the stream has ended.
                v.done = true;
                break;
            }
            // A source that ended gives its last sample once more, as s[n] = s[n-1].
            const uint64_t i1 = i + 1 < end ? i + 1 : i;
            const int16_t* a = s + (i - v.base) * channels;
            const int16_t* b = s + (i1 - v.base) * channels;
            left[at - first] += f ? Lerp(a[0], b[0], f) : a[0];
            right[at - first] += f ? Lerp(a[right1], b[right1], f) : a[right1];
            ++j;
            f += rate;
            i += f / kOutRate;
            f %= kOutRate;
        }
    }
    v.next = j;
    // Frames behind are let go now and then.
    const uint64_t keep = std::min(i, end - 1);
    if (keep > v.base + 8192) {
        v.buffer.erase(v.buffer.begin(), v.buffer.begin() + static_cast<std::ptrdiff_t>((keep - v.base) * channels));
        v.base = keep;
    }
    if (v.start + v.next >= v.cut)
        v.done = true;
}

std::vector<std::string> NotHeardLines(const SoundtrackSummary& t,
                                       const std::function<std::string(std::string_view)>& printable)
{
    static constexpr const char* kSlots[] = {"idle from over", "over from idle", "down from over", "over from down"};
    std::vector<std::string> lines;
    for (const SoundtrackSummary::Button& b : t.buttonSounds)
        lines.push_back("not heard: button " + std::to_string(b.button) + " plays sound " + std::to_string(b.sound) + " (" +
                        kSlots[std::clamp(b.slot, 0, 3)] + ")");
    for (const SoundtrackSummary::Unstarted& u : t.unstarted)
        lines.push_back("not heard: sound " + std::to_string(u.id) + " no timeline starts" +
                        (u.name.empty() ? "" : " (" + printable(u.name) + ")"));
    for (const uint16_t sprite : t.unplacedSprites)
        lines.push_back("not heard: sprite " + std::to_string(sprite) + ", which holds sound, is never placed");
    for (const SoundtrackSummary::Embedded& e : t.embeddedMovies)
        lines.push_back("not heard: embedded movie " + std::to_string(e.movie) + " holds " + std::to_string(e.sounds) +
                        " sound(s); only scripts load it");
    if (t.scripts)
        lines.emplace_back("scripts present: the movie may sound different when played");
    for (const std::string& w : t.warnings)
        lines.push_back("warning: " + w);
    return lines;
}

CSoundtrack::CSoundtrack() : m_body(std::make_unique<CMovieBody>()) {}

CSoundtrack::~CSoundtrack() = default;

bool CSoundtrack::MovieDigest(uint64_t& size, std::string& sha256) const
{
    if (m_digest.empty())
        return false;
    size = m_digestSize;
    sha256 = m_digest;
    return true;
}

bool CSoundtrack::Make(const std::string& moviePath, uint32_t tailSeconds, platform::PendingFile* out,
                       const std::atomic<bool>* cancel, const std::function<void(double)>& progress)
{
    m_summary = SoundtrackSummary{};
    m_made = false;
    m_cancelled = false;
    m_digest.clear();
    if (!m_body->Load(moviePath, false)) {
        m_failure = m_body->LastFailure();
        return false;
    }
    m_failure = LoadFailure::None;
    CMovieTimelines movie;
    ReadMovieTags(*m_body, movie);
    m_summary.movieCutShort = m_body->HoldsLessThanDeclared() && !movie.mainReachedEnd;
    if (m_wantDigest && !m_body->Digest(m_digestSize, m_digest))
        m_digest.clear();
    if (!m_body->Unchanged()) {
        m_failure = LoadFailure::Changed;
        return false;
    }

    // What the soundtrack can only list.
    m_summary.scripts = movie.scripts;
    for (const auto& [id, count] : movie.embeddedSounds)
        m_summary.embeddedMovies.push_back(SoundtrackSummary::Embedded{id, count});
    for (const ButtonSound& b : movie.buttons)
        m_summary.buttonSounds.push_back(SoundtrackSummary::Button{b.button, b.slot, b.sound});
    std::set<uint16_t> started;
    for (const SoundStart& s : movie.starts) {
        if (!s.byClass)
            started.insert(s.soundId);
        else if (const auto cls = movie.classes.find(s.className); cls != movie.classes.end())
            started.insert(cls->second);
    }
    for (const auto& [id, sound] : movie.sounds) {
        if (!started.count(id))
            m_summary.unstarted.push_back(SoundtrackSummary::Unstarted{id, movie.NameOf(id)});
    }

    const uint32_t rate88 = m_body->FrameRate88();
    if (rate88 == 0) {
        m_summary.none = "its frame rate is 0: its frames have no time";
        return true;
    }
    Mix mix(movie, rate88, m_summary);
    CWaveWriter writer;
    if (out && !writer.Open(std::move(*out), true, 16, static_cast<uint32_t>(kOutRate)))
        return false;
    bool failed = false;
    const uint64_t length = mix.Play(
        uint64_t{tailSeconds} * kOutRate,
        [&](const int16_t* left, const int16_t* right, size_t n) {
            if (cancel && cancel->load()) {
                m_cancelled = true;
                return false;
            }
            if (out && !writer.Write(left, right, n)) {
                failed = true;
                return false;
            }
            return true;
        },
        progress);
    for (const auto& [id, timeline] : movie.sprites) {
        if (timeline.holdsSound && !mix.placed.count(id))
            m_summary.unplacedSprites.push_back(id);
    }
    if (mix.heard == 0) {
        m_summary.none = SoundtrackSummary::kNoTimelineSound;
        if (out)
            writer.Discard();
        return true;
    }
    // The streams were read from the file while they played.
    const bool changed = !m_body->Unchanged();
    if (m_cancelled || failed || changed || (out && !writer.Close(*out))) {
        if (out)
            writer.Discard();
        if (changed)
            m_failure = LoadFailure::Changed;
        if (changed || m_cancelled)
            return false;
        m_summary.samples = length;
        m_summary.lost = "its file could not be written (disk full or not writable)";
        return true;
    }
    m_summary.samples = length;
    m_output = CSoundElement{};
    m_output.channels = 2;
    m_output.bits = 16;
    m_output.sampleRate = static_cast<uint32_t>(kOutRate);
    m_output.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
    m_output.cut = m_summary.cut;
    m_made = true;
    return true;
}

bool CSoundtrack::Convert(platform::PendingFile& wav, platform::PendingFile& target, OutputType type)
{
    platform::File in;
    if (!in.OpenIn(*wav.Where(), wav.TempName(), platform::OpenMode::Read))
        return false;
    uint32_t frames = 0;
    uint32_t rate = 0;
    const bool converted = type == OutputType::Mp3 ? ConvertWavToMp3(std::move(in), target, &frames, &rate)
                                                   : ConvertWavToFlac(std::move(in), target, &frames) && target.Finish();
    if (!converted)
        return false;
    wav.Discard();
    m_output.isMp3 = type == OutputType::Mp3 ? 1 : 0;
    m_output.isFlac = type == OutputType::Flac;
    if (type == OutputType::Mp3) {
        m_output.sampleRate = rate;
        m_output.sampleCount = frames;
    }
    return true;
}

bool CSoundtrack::Render(const std::string& moviePath, OutputType type, uint32_t tailSeconds, const CommitGate& gate)
{
    m_summary = SoundtrackSummary{};
    m_made = false;
    // A movie that can't be read makes no folder for its soundtrack.
    {
        CMovieBody probe;
        if (!probe.Load(moviePath, true)) {
            m_failure = probe.LastFailure();
            return false;
        }
    }
    COutputPlace place;
    const std::string base = OutputBaseOf(moviePath) + kSuffix;
    platform::PendingFile file;
    std::string lost;
    if (place.Pick(moviePath)) {
        // What a killed run of this soundtrack left, now that no one holds its name.
        for (const char* extension : {".wav", ".mp3", ".flac"}) {
            for (const std::string& left : {"." + base + extension + ".part", "." + base + extension + ".1.part"}) {
                if (place.Folder()->HoldsRegularFile(left))
                    place.Folder()->Remove(left);
            }
        }
        if (!file.CreateIn(place.Folder(), base + ".wav"))
            lost = "its file could not be written (disk full or not writable)";
    } else {
        lost = "no folder took new files";
    }
    if (!Make(moviePath, tailSeconds, file.IsPending() ? &file : nullptr, nullptr, {}))
        return false;
    if (!m_made)
        return true;
    const std::string extension = type == OutputType::Mp3 ? ".mp3" : type == OutputType::Flac ? ".flac" : ".wav";
    if (lost.empty() && (type == OutputType::Mp3 || type == OutputType::Flac)) {
        platform::PendingFile target;
        if (!target.CreateIn(place.Folder(), base + extension) || !Convert(file, target, type))
            lost = "its file could not be converted to the chosen type";
        else
            file = std::move(target);
    }
    if (lost.empty() && gate && !gate(*this))
        lost = "an earlier soundtrack stays";
    // The name, or the first numbered one that is free.
    for (int n = 0; lost.empty() && n < 100000; ++n) {
        const std::string name = n == 0 ? base + extension : NumberedName(base, n, extension);
        if (place.Folder()->Holds(name))
            continue;
        const platform::MoveOutcome moved = file.MoveInto(name);
        if (moved == platform::MoveOutcome::Moved) {
            m_output.path = place.Folder()->PathOf(name);
            place.Folder()->Sync();
            place.EndClaim();
            return true;
        }
        if (moved == platform::MoveOutcome::Failed)
            lost = "its file could not be written (disk full or not writable)";
    }
    file.Discard();
    m_made = false;
    m_summary.lost = lost.empty() ? "no free name took its file" : lost;
    return true;
}

bool CSoundtrack::RenderTo(const std::string& moviePath, const std::string& target, OutputType type,
                           uint32_t tailSeconds, const std::atomic<bool>* cancel,
                           const std::function<void(double)>& progress)
{
    m_summary = SoundtrackSummary{};
    m_made = false;
    // The WAV is made beside the target, then brought to the type in its place.
    platform::PendingFile file;
    if (!file.Create(target, true) || !Make(moviePath, tailSeconds, &file, cancel, progress) || !m_made)
        return false;
    if (type == OutputType::Mp3 || type == OutputType::Flac) {
        platform::PendingFile converted;
        if (!converted.Create(target, true) || !Convert(file, converted, type))
            return false;
        file = std::move(converted);
    }
    if (file.MoveInto() != platform::MoveOutcome::Moved)
        return false;
    m_output.path = target;
    return true;
}

bool CSoundtrack::Plan(const std::string& moviePath, uint32_t tailSeconds)
{
    return Make(moviePath, tailSeconds, nullptr, nullptr, {});
}
