#include "avchips/velmosource.h"

velmosource* velmosource::p_velmo_source = nullptr;

velmosource::velmosource() = default;

velmosource* velmosource::pInstance()
{
    if (!p_velmo_source)
        p_velmo_source = new velmosource();
    return p_velmo_source;
}

int velmosource::initialize()
{
    return 0;
}
