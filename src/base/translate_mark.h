// Texts of this room that the station shows translated are marked where
// lupdate reads them; without Qt the mark is the text itself, as Qt defines
// it, so this room and libquorlink need no Qt.
#pragma once

#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif
