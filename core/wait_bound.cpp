#include "core/wait_bound.h"

namespace service_wait {

namespace {

struct Service {
    Hook hook = nullptr;
    void* context = nullptr;
    bool told = false;
};
thread_local Service t_service;

} // namespace

Scope::Scope(Hook hook, void* context)
{
    t_service = Service{hook, context, false};
}

Scope::~Scope()
{
    t_service = Service{};
}

void blocks()
{
    Service& s = t_service;
    if (!s.hook || s.told)
        return;
    s.told = true;
    s.hook(s.context);
}

} // namespace service_wait
