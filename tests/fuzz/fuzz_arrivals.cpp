// The link's arrival shaping on any byte stream, cut at any read boundaries, with time passing
// anywhere: the arrivals give the stream back, byte for byte and in order, and every good
// report sent whole (one "$" and one "!", its first and last bytes, and no part held back past
// its time) is handed over whole, in one arrival, once. The input is a list of segments: one
// control byte (bits 0-5: how many bytes come in; bit 7: those bytes repeated to 256 times as
// many; bit 6: the held report's time runs out afterwards), then the bytes. Each segment is
// followed by one read.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzRequire.h"
#include "link/ArrivalShaper.h"
#include "report/ReportCheck.h"
#include "report/ReportFraming.h"

namespace {

using namespace vostrel;

void Require(bool condition, const char* what, std::string_view stream) {
    fuzz::Require(condition, what, stream, "stream");
}

struct Handed {
    std::size_t offset;  // where in the stream it begins
    std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ReportFraming framing;
    ArrivalShaper shaper(framing);
    ArrivalShaper::TimePoint now{};
    std::string stream;   // everything that came in
    std::string pending;  // what came in and was not read yet
    std::size_t handedUpTo = 0;
    std::vector<Handed> handed;
    std::vector<std::size_t> timedOut;  // stream offsets where a held report went on cut short

    auto hand = [&](std::string text) {
        handed.push_back(Handed{handedUpTo, std::move(text)});
        handedUpTo += handed.back().text.size();
    };
    auto take = [&](std::vector<ArrivalShaper::Arrival> arrivals) {
        for (ArrivalShaper::Arrival& arrival : arrivals) hand(std::move(arrival.text));
    };
    auto read = [&] {
        const std::size_t count =
            shaper.ReadSize(std::string_view(pending).substr(0, kLargestRead + 1), pending.size());
        Require(count <= kLargestRead && (count > 0 || pending.empty()),
                "a read takes at most the largest read, and something when something is pending",
                stream);
        take(shaper.Read(pending.substr(0, count), now));
        pending.erase(0, count);
    };

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t control = data[at++];
        const std::size_t length = static_cast<std::size_t>(control & 0x3f) + 1;
        const std::size_t part = std::min(length, size - at);
        std::string bytes(reinterpret_cast<const char*>(data + at), part);
        at += part;
        if ((control & 0x80) != 0 && !bytes.empty()) {
            // A long segment: its bytes over and over, 256 times as long.
            const std::string unit = bytes;
            while (bytes.size() < length * 256) bytes += unit;
            bytes.resize(length * 256);
        }
        stream += bytes;
        pending += bytes;
        read();
        if ((control & 0x40) != 0) {
            now += kHoldUnfinished + std::chrono::seconds(1);
            if (const auto until = shaper.HeldUntil(); until && *until <= now) {
                std::string held = shaper.TakeHeld();
                timedOut.push_back(handedUpTo + held.size());
                hand(std::move(held));
            }
        }
    }
    while (!pending.empty()) read();
    if (std::string held = shaper.TakeHeld(); !held.empty()) hand(std::move(held));  // the end

    std::string back;
    for (const Handed& h : handed) {
        Require(!h.text.empty(), "no arrival is empty", stream);
        back += h.text;
    }
    Require(back == stream, "the arrivals give the stream back, in order", stream);

    // Every good report of the stream is one piece of exactly one arrival.
    std::size_t offset = 0;
    for (std::string_view piece : SplitArrival(stream)) {
        const std::size_t begin = offset;
        offset += piece.size();
        const bool framed =
            piece.find('$', 1) == std::string_view::npos && piece.find('!') == piece.size() - 1;
        if (!framed || CheckReport(piece).rejection) continue;
        bool cutByTime = false;
        for (std::size_t cut : timedOut) cutByTime = cutByTime || (cut > begin && cut < offset);
        if (cutByTime) continue;
        std::size_t found = 0;
        for (const Handed& h : handed) {
            if (begin < h.offset || offset > h.offset + h.text.size()) continue;
            std::size_t inner = h.offset;
            for (std::string_view p : SplitArrival(h.text)) {
                if (inner == begin && p.size() == piece.size()) ++found;
                inner += p.size();
            }
        }
        Require(found == 1, "a good report sent whole is handed over whole, once", stream);
    }
    return 0;
}
