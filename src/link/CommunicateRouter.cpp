// The manager with the system's own router.
#include "Communicate.h"
#include "Router.h"

TCommunicate::TCommunicate() : TCommunicate(std::make_unique<TRouter>()) {}
