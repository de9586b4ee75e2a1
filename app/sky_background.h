// The sky plot's background picture: a globe on a dark starry ground, white cross hairs
// through the centre, two white rings and the letters N, E, S, W in small dark boxes at the
// ends of the cross. Drawn by our own code so that no picture file ships with the program.
//
// Thread rule: pure drawing into an image; any thread.
#pragma once

#include <QImage>

// A square picture of sizePx pixels. The outer ring stands where a satellite on the horizon
// is drawn (distance 100 on axes that span -150..150), the inner one at half that radius.
QImage MakeSkyBackground(int sizePx);
