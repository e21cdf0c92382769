#include "verify/UsersAddresses.h"

#include "verify/ProxyCheck.h"

int LearnUsersAddresses(CheckEngine& engine, const std::string& service, const RequestWay& way,
                        const std::string& userAgent, unsigned limitMs,
                        std::shared_ptr<const std::atomic<bool>> cancelled,
                        std::function<void(std::vector<std::string> addresses)> deliver)
{
    // The work aside holds only its copies; what it returns runs on the engine's thread.
    engine.RunAside([&engine, deliver, service, userAgent, limitMs, cancelled]() -> std::function<void()> {
        const std::vector<std::string> addresses = ServiceAddresses(service);
        return [&engine, deliver, addresses, service, userAgent, limitMs, cancelled] {
            if (addresses.empty()) {
                deliver({});
                return;
            }
            CheckJob job = UsersAddressJob(addresses, service, userAgent, limitMs, deliver);
            job.cancelled = cancelled;
            engine.Submit(std::move(job));
        };
    });
    if (way.kind == RequestWay::Kind::Direct)
        return 1;
    engine.RunAside([deliver, service, way, userAgent, limitMs]() -> std::function<void()> {
        const auto address = UsersAddressTheWay(service, way, userAgent, limitMs);
        return [deliver, address] { deliver(address ? std::vector<std::string>{*address} : std::vector<std::string>()); };
    });
    return 2;
}
