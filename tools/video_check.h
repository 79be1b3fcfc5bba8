// The encoder's output looked at before it is put in place: an encoder can
// exit with status 0 over a truncated file (a full disk while it writes its
// trailer) or an empty one, so a video counts as whole only once ffprobe
// reads back every frame that went in.
#pragma once

#include <string>

// Empty if path holds a video stream of frames frames and, if withSound, an
// audio stream; else why not, in a few words.
std::string checkVideo(const std::string &path, long frames, bool withSound);
