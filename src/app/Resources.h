// Identifiers of the program's resources (res/QMLoader.rc).
#pragma once

#define QM_IDI_MAIN 1          // application icon
#define QM_IDB_LOGO 101        // 187 x 23 wordmark, 32-bit with premultiplied alpha
#define QM_IDB_PROXY 102       // 16 x 16 glyph of the proxy button; bottom-left colour is transparent
#define QM_IDB_ROW_FETCH 103   // 16 x 16 row image: still to fetch; magenta is transparent
#define QM_IDB_ROW_DONE 104    // 16 x 16 row image: complete; magenta is transparent
