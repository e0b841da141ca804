#include "data/Session.h"

SessionValues& session() {
    static SessionValues values;
    return values;
}
