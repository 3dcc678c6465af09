#pragma once

#include <deque>

namespace kavelo {

// What the arrival times of a sender's datagrams say about the sender and the
// network, learnt from nothing but when each datagram came and how much sound
// it carried (datagrams have no sequence numbers or timestamps).
//
// - The sender's pace: how long the sender takes per millisecond of sound it
//   sends, by our clock. 1 for a sender that sends what it captures as it
//   captures it, 250/240 for one that sends 240 ms of sound every 250 ms, a
//   little off 1 when the two clocks run apart.
// - The network's jitter: how much later than its neighbours a datagram comes.
//   A datagram is judged once the ones after it have arrived, so that a late
//   datagram (the ones after it come on time) is told from a lost one (the
//   ones after it come as late as it did, since the sound it carried is
//   missing) and from a change of route (the same): only lateness a playout
//   reserve could have hidden counts.
//
// Not thread-safe.
class ArrivalTiming {
public:
    // One datagram of `soundMs` of sound, arrived at `arrivalMs` (a steady
    // clock). `continues` false: the first of a talk (after a pause), whose gap
    // from the last one says nothing about the sender's pace.
    void arrived(double arrivalMs, double soundMs, bool continues);

    // Milliseconds of our time per millisecond of the sender's sound.
    double pace() const { return pace_; }
    // How late datagrams came, recently, compared with their neighbours: the
    // 95th percentile over the last ten seconds.
    double recentLatenessMs() const { return latenessPercentileMs_; }
    // Datagrams judged so far.
    int judged() const { return judged_; }

private:
    struct Arrival {
        double atMs;
        double relativeMs;  // arrival against the sender's pace: grows only with network delay
        bool judged;
    };
    struct Lateness {
        double atMs;
        double ms;
    };
    struct Step {
        double gapMs;
        double soundMs;
    };

    void learnPace(double gapMs, double soundMs);
    void judgeSettled(double nowMs);

    std::deque<Step> steps_;
    double paceSoundMs_ = 0;  // the steps' sound
    std::deque<Arrival> arrivals_;
    std::deque<Lateness> lateness_;
    double pace_ = 1.0;
    double latenessPercentileMs_ = 0;
    double lastArrivalMs_ = 0;
    double lastSoundMs_ = 0;
    double relativeMs_ = 0;
    int judged_ = 0;
};

} // namespace kavelo
