#include "PlatformServices.h"

#include "NoIdentityProvider.h"

std::unique_ptr<IdentityProvider> makeDefaultIdentityProvider()
{
    return std::make_unique<NoIdentityProvider>();
}
