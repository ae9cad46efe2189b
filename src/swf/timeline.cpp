#include "swf/timeline.h"

Timeline* CMovieTimelines::At(const TagPlace& place)
{
    if (!place.embedded->empty() || m_walking.empty())
        return nullptr;
    return m_walking.back().timeline;
}

void CMovieTimelines::OnTimelineBegin(const TagPlace& place, uint16_t)
{
    Walking w;
    if (place.embedded->empty()) {
        if (place.sprite == 0) {
            w.timeline = &main;
        } else {
            // A sprite defined twice keeps its first definition.
            auto [it, added] = sprites.try_emplace(place.sprite);
            w.timeline = added ? &it->second : nullptr;
        }
    }
    m_walking.push_back(w);
}

void CMovieTimelines::OnTimelineEnd(const TagPlace&, bool reachedEnd)
{
    if (m_walking.empty())
        return;
    if (m_walking.back().timeline == &main)
        mainReachedEnd = reachedEnd;
    m_walking.pop_back();
}

void CMovieTimelines::Add(const TagPlace& place, TimelineEvent event)
{
    Timeline* t = At(place);
    if (!t)
        return;
    if (t->frames.size() <= place.frame)
        t->frames.resize(place.frame + 1);
    t->frames[place.frame].push_back(event);
}

void CMovieTimelines::OnShowFrame(const TagPlace& place)
{
    // A frame with nothing in it is a frame all the same.
    Timeline* t = At(place);
    if (!t)
        return;
    if (t->frames.size() <= place.frame)
        t->frames.resize(place.frame + 1);
    t->shown = place.frame + 1;
}

void CMovieTimelines::OnSoundDefined(const TagPlace& place, const DefinedSound& sound)
{
    if (place.embedded->empty())
        sounds.try_emplace(sound.id, sound);
    else
        ++embeddedSounds[place.embedded->front()];
}

void CMovieTimelines::OnStreamHead(const TagPlace& place, const StreamHeadInfo& head)
{
    if (!place.embedded->empty())
        ++embeddedSounds[place.embedded->front()];
    if (!At(place))
        return;
    Walking& w = m_walking.back();
    w.haveHead = true;
    w.head = head;
    w.run = -1;
}

void CMovieTimelines::OnStreamBlock(const TagPlace& place, const TagBytes& block)
{
    Timeline* t = At(place);
    if (!t || !m_walking.back().haveHead)
        return;
    Walking& w = m_walking.back();
    t->holdsSound = true;
    // MP3 blocks are one stream from the first on; other formats' blocks
    // follow one another only from frame to frame.
    const bool continues =
        w.run >= 0 && (w.head.format == 2 || place.frame == w.lastBlockFrame || place.frame == w.lastBlockFrame + 1);
    if (!continues) {
        StreamRun run;
        run.head = w.head;
        run.firstFrame = place.frame;
        t->streams.push_back(std::move(run));
        w.run = static_cast<int>(t->streams.size() - 1);
    }
    t->streams[static_cast<size_t>(w.run)].blocks.push_back(block);
    w.lastBlockFrame = place.frame;
}

void CMovieTimelines::OnPlace(const TagPlace& place, const Placement& p)
{
    TimelineEvent e;
    e.kind = TimelineEvent::Place;
    e.place = p;
    Add(place, e);
}

void CMovieTimelines::OnRemove(const TagPlace& place, uint16_t depth)
{
    TimelineEvent e;
    e.kind = TimelineEvent::Remove;
    e.depth = depth;
    Add(place, e);
}

void CMovieTimelines::OnStartSound(const TagPlace& place, const SoundStart& start)
{
    Timeline* t = At(place);
    if (!t)
        return;
    t->holdsSound = true;
    TimelineEvent e;
    e.kind = TimelineEvent::Start;
    e.start = starts.size();
    starts.push_back(start);
    Add(place, e);
}

void CMovieTimelines::OnStopAction(const TagPlace& place)
{
    TimelineEvent e;
    e.kind = TimelineEvent::Stop;
    Add(place, e);
}

void CMovieTimelines::OnScripts(const TagPlace& place, ScriptKind)
{
    if (place.embedded->empty())
        scripts = true;
}

void CMovieTimelines::OnButtonSound(const TagPlace& place, uint16_t button, int slot, const SoundStart& start)
{
    if (place.embedded->empty())
        buttons.push_back(ButtonSound{button, slot, start.soundId});
}

void CMovieTimelines::OnNames(const TagPlace& place, NameKind kind,
                              const std::vector<std::pair<uint16_t, std::string>>& names)
{
    if (!place.embedded->empty())
        return;
    for (const auto& [id, name] : names) {
        if (kind == NameKind::Export) {
            exported.try_emplace(id, name);
        } else {
            classNames.try_emplace(id, name);
            classes.try_emplace(name, id);
        }
    }
}

std::string CMovieTimelines::NameOf(uint16_t id) const
{
    if (const auto it = exported.find(id); it != exported.end())
        return it->second;
    const auto it = classNames.find(id);
    return it == classNames.end() ? std::string() : it->second;
}
