#include "platform/zkSndfile.h"

const TSndfileApi* Sndfile() {
    return zkShared::Load<TSndfileApi>("libsndfile.so.1", [](void* h, TSndfileApi& a) {
        return ZK_SNDFILE_FUNCTIONS(ZK_SHARED_RESOLVE) true;
    });
}
