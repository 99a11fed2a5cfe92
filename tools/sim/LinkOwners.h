// Which simulator made which port link. A simulator killed outright cannot remove its link; the
// next one to start removes the links whose maker is gone, so that one pty never has two names
// and a stale name never comes to point at whatever pty later gets its number.
#pragma once

#include <string>

namespace kve17::sim {

// Notes this process as the maker of the link `name` to `device` in `linkDir`.
void RecordLinkOwner(const std::string& linkDir, const std::string& name,
                     const std::string& device);
// Forgets the note, when the link is removed.
void ForgetLinkOwner(const std::string& linkDir, const std::string& name);
// Removes every link in `linkDir` that a process now gone made and that still points where it
// made it point, with its note.
void RemoveLinksOfGoneProcesses(const std::string& linkDir);

} // namespace kve17::sim
