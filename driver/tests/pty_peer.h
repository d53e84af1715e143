#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestra::test {

/// One piece of an answer: bytes sent after a pause.
struct Piece {
    std::string bytes;
    int delayMs = 0;
};

/// The instrument's side of a pseudo-terminal for driver tests: reads whole frames (up to CR
/// LF) and answers each with what the handler returns (nothing = silence).
class PtyPeer {
public:
    using Handler = std::function<std::vector<Piece>(const std::string& frame)>;

    PtyPeer();
    ~PtyPeer();

    /// A stable name for the port: a symlink that follows the peer across hang-ups.
    std::string path() const { return m_link; }
    void setHandler(Handler handler);
    /// Frames received so far (each with its CR LF).
    std::vector<std::string> frames() const;
    void clearFrames();
    /// Closes the master (the driver's line hangs up) and opens a new terminal under the same name.
    void hangUp();

    /// A reply from instrument `number`: "KESTRA #", number, " ", body, " CRC=" and the checksum.
    static std::string reply(const std::string& number, const std::string& body, bool lowerCaseDigits = false);
    /// The command text inside a frame.
    static std::string command(const std::string& frame);

private:
    void openMaster();
    void run();

    std::string m_dir;
    std::string m_link;
    int m_master = -1;
    int m_wake[2] = { -1, -1 };
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_lock;
    Handler m_handler;
    std::vector<std::string> m_frames;
    std::thread m_thread;
};

} // namespace kestra::test
