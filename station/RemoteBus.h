#pragma once

// The running VOX's address on the session bus; the name is the desktop entry's id.
namespace RemoteBus {
inline constexpr char Service[] = "io.github.kotarplus.kotarplus";
inline constexpr char Path[] = "/io/github/kotarplus/kotarplus";
inline constexpr char Interface[] = "io.github.kotarplus.kotarplus.Vox";
} // namespace RemoteBus
