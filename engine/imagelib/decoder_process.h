#pragma once
// One decoder process (Linux): forked once, then serving decode requests in
// a loop. Requests and replies are small records on a socket pair; the bytes
// to decode and the decoded bitmap travel through two shared-memory files.

#include <sys/types.h>

#include <memory>
#include <optional>

#include "engine/imagelib/decoder_launcher.h"
#include "engine/imagelib/isolated_decoder.h"

namespace pimo::imagelib {

class SharedMapping;

class DecoderProcess {
  public:
    /// Starts a process serving `decode` under `budget` (forked by the
    /// decoder launcher, or by this process when there is none); nothing when
    /// the system gives no process or shared memory.
    static std::unique_ptr<DecoderProcess> Start(const DecodeBudget& budget);
    ~DecoderProcess();
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    bool serves(const DecodeBudget& budget) const;

    struct Outcome {
        FIBITMAP* bitmap = nullptr;
        bool keepProcess = false;  // false: the process has ended or must not serve again
    };
    /// Decodes in the process, reporting failures to this thread's output handler.
    Outcome decode(DecodeFunction decode, int format, std::span<const std::uint8_t> bytes,
                   int flags);
    /// As decode, for the bytes of the open file `file` (from its start to
    /// its end), which the system copies into the process's input without
    /// passing them through this process's memory. Nothing when the system
    /// cannot copy from that file: the caller reads it itself.
    std::optional<Outcome> decodeFile(DecodeFunction decode, int format, int file, int flags);

  private:
    DecoderProcess() = default;
    /// Makes the input file at least `size` bytes long; false, reported, when it cannot be.
    bool reserveInput(std::size_t size, int libraryFormat);
    /// Has the process decode the first `size` bytes of its input.
    Outcome decodeInput(DecodeFunction decode, int format, std::size_t size, int flags);
    void endProcess() const;
    int awaitExit();  // the wait status

    pid_t m_pid = -1;
    LaunchedProcess m_launched;  // when the launcher forked it
    int m_socket = -1;
    int m_input = -1;
    int m_output = -1;
    std::size_t m_inputCapacity = 0;
    unsigned m_served = 0;
    DecodeBudget m_budget;
    std::unique_ptr<SharedMapping> m_outputMapping;
};

}  // namespace pimo::imagelib
