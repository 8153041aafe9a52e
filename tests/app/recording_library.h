// A PlayerLibrary that writes down every call in order, with its arguments, and answers queries
// with values the test sets, or passes each call on to another library and keeps its result.
#pragma once

#include <QString>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/player_library.h"

namespace kestrel::testing {

inline std::string HandleName(KxWindow w) {
    char s[32];
    std::snprintf(s, sizeof s, "%p", static_cast<void*>(w));
    return s;
}

class RecordingLibrary final : public app::PlayerLibrary {
public:
    explicit RecordingLibrary(app::PlayerLibrary* forward = nullptr) : forward_(forward) {}

    // Answers while not forwarding.
    uint32_t playedFrames = 0, fileFrames = 0, playedTime = 0, fileTime = 0;
    // Runs inside every call, after it is written down (name as in the list).
    std::function<void(const std::string& name)> onCall;

    const std::vector<std::string>& calls() const { return calls_; }
    // Writes down something that is not a call (the test's own marks), in the same order.
    void Mark(const std::string& what) {
        calls_.push_back(what);
        results_.push_back(0);
    }
    const std::vector<int64_t>& results() const { return results_; }
    void Clear() {
        calls_.clear();
        results_.clear();
    }
    // The recorded calls whose text starts with `prefix`.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : calls_)
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }

    int32_t ReleaseDirectDraw() override { return Note("ReleaseDirectDraw()", 1, [&](auto* f) { return f->ReleaseDirectDraw(); }); }
    int32_t OpenFile(int32_t port, const char* path) override {
        return Note(Call("OpenFile", port, path), 1, [&](auto* f) { return f->OpenFile(port, path); });
    }
    int32_t CloseFile(int32_t port) override { return Note(Call("CloseFile", port), 1, [&](auto* f) { return f->CloseFile(port); }); }
    int32_t Play(int32_t port, KxWindow w) override {
        return Note(Call("Play", port, HandleName(w)), 1, [&](auto* f) { return f->Play(port, w); });
    }
    int32_t Pause(int32_t port) override { return Note(Call("Pause", port), 1, [&](auto* f) { return f->Pause(port); }); }
    int32_t Stop(int32_t port) override { return Note(Call("Stop", port), 1, [&](auto* f) { return f->Stop(port); }); }
    int32_t PlayFast(int32_t port) override { return Note(Call("PlayFast", port), 1, [&](auto* f) { return f->PlayFast(port); }); }
    int32_t PlaySlow(int32_t port) override { return Note(Call("PlaySlow", port), 1, [&](auto* f) { return f->PlaySlow(port); }); }
    int32_t Next(int32_t port) override { return Note(Call("Next", port), 1, [&](auto* f) { return f->Next(port); }); }
    int32_t OpenSound(int32_t port) override { return Note(Call("OpenSound", port), 1, [&](auto* f) { return f->OpenSound(port); }); }
    int32_t CloseSound(int32_t port) override { return Note(Call("CloseSound", port), 1, [&](auto* f) { return f->CloseSound(port); }); }
    uint32_t GetPlayedTime(int32_t port) override {
        return uint32_t(Note(Call("GetPlayedTime", port), playedTime, [&](auto* f) { return f->GetPlayedTime(port); }));
    }
    uint32_t GetPlayedFrames(int32_t port) override {
        return uint32_t(Note(Call("GetPlayedFrames", port), playedFrames, [&](auto* f) { return f->GetPlayedFrames(port); }));
    }
    uint32_t GetFileTime(int32_t port) override {
        return uint32_t(Note(Call("GetFileTime", port), fileTime, [&](auto* f) { return f->GetFileTime(port); }));
    }
    uint32_t GetFileFrames(int32_t port) override {
        return uint32_t(Note(Call("GetFileFrames", port), fileFrames, [&](auto* f) { return f->GetFileFrames(port); }));
    }
    int32_t SnapPicture(int32_t port, const char* path) override {
        return Note(Call("SnapPicture", port, path), 1, [&](auto* f) { return f->SnapPicture(port, path); });
    }
    int32_t SetPlayPosition(int32_t port, float position) override {
        return Note(Call("SetPlayPosition", port, QString::number(position).toStdString()), 1,
                    [&](auto* f) { return f->SetPlayPosition(port, position); });
    }
    int32_t SetPlayedFrames(int32_t port, uint32_t frame) override {
        return Note(Call("SetPlayedFrames", port, std::to_string(frame)), 1,
                    [&](auto* f) { return f->SetPlayedFrames(port, frame); });
    }
    int32_t Refresh(int32_t port) override { return Note(Call("Refresh", port), 1, [&](auto* f) { return f->Refresh(port); }); }
    int32_t SetFileEndMsg(int32_t port, KxWindow w, uint32_t message) override {
        return Note(Call("SetFileEndMsg", port, HandleName(w) + ", " + std::to_string(message)), 1,
                    [&](auto* f) { return f->SetFileEndMsg(port, w, message); });
    }
    int32_t GetLastError(int32_t port) override {
        return Note(Call("GetLastError", port), 0, [&](auto* f) { return f->GetLastError(port); });
    }

    static std::string Call(const char* name, int32_t port, const std::string& rest = {}) {
        return std::string(name) + "(" + std::to_string(port) + (rest.empty() ? "" : ", " + rest) + ")";
    }

private:
    template <typename Forward>
    int64_t Note(std::string call, int64_t answer, Forward forward) {
        calls_.push_back(call);
        const int64_t result = forward_ ? int64_t(forward(forward_)) : answer;
        results_.push_back(result);
        if (onCall) onCall(call.substr(0, call.find('(')));
        return result;
    }

    app::PlayerLibrary* forward_;
    std::vector<std::string> calls_;
    std::vector<int64_t> results_;
};

}  // namespace kestrel::testing
