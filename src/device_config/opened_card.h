#pragma once
// The folder of recordings the user opened counts as a card, after every removable one: a copy of
// a card on a disk has its settings, driving-route records and time file read (and offered for
// saving) there when no removable card holds them.
#include <string>
#include <vector>

#include "platform/volumes.h"

namespace orvik::device_config {

// Whether `folder` holds the configuration file, the driving-route folder or the time file.
bool holdsCardFiles(const std::string& folder);

// The root of the card the user opened: `folder` when it holds one of the card's files, else the
// nearest folder above one of `recordings` (a few levels at most) that does, else `folder`.
std::string openedCardRoot(const std::string& folder, const std::vector<std::string>& recordings);

// The opened card for the whole process (the window sets it when it lists a folder); "" forgets.
void setOpenedCard(std::string root);
std::string openedCard();

// removableVolumes(), then the opened card as a volume that is never relabelled.
std::vector<platform::Volume> cardVolumes();

}  // namespace orvik::device_config
