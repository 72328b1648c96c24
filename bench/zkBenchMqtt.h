#pragma once

// What the broker benchmarks share: a libmosquitto publisher or subscriber of their own (TLS,
// the test broker's user), the desk's connection made and waited for, and paced publishing.

#include "broker/zkAlertBroker.h"
#include "zkBenchHttp.h"
#include "zkMosquitto.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <mosquitto.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zkBenchMqtt {

using zkBenchHttp::NowNs;
using zkBenchHttp::SleepUntilNs;

// A libmosquitto client on the library's own thread, with the broker's TLS and user.
struct TClient {
    mosquitto* Mosq = nullptr;
    std::atomic<bool> Connected{false};
    std::function<void(const mosquitto_message*)> OnMessage;

    TClient(const TMosquitto& broker, const char* id) {
        Mosq = mosquitto_new(id, true, this);
        mosquitto_int_option(Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_username_pw_set(Mosq, TMosquitto::UserName, TMosquitto::Password);
        mosquitto_tls_set(Mosq, broker.caFile().toLocal8Bit().constData(), nullptr, nullptr,
                          nullptr, nullptr);
        mosquitto_connect_v5_callback_set(
            Mosq, [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
                static_cast<TClient*>(self)->Connected = rc == 0;
            });
        mosquitto_message_v5_callback_set(
            Mosq,
            [](mosquitto*, void* self, const mosquitto_message* m, const mosquitto_property*) {
                if (static_cast<TClient*>(self)->OnMessage)
                    static_cast<TClient*>(self)->OnMessage(m);
            });
        mosquitto_connect(Mosq, "127.0.0.1", broker.port(), 60);
        mosquitto_loop_start(Mosq);
        for (int i = 0; i < 500 && !Connected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~TClient() {
        mosquitto_disconnect(Mosq);
        mosquitto_loop_stop(Mosq, false);
        mosquitto_destroy(Mosq);
    }
    void Publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(Mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1,
                          false);
    }
};

inline bool Connect(TAlertBroker& broker, const TBrokerSettings& settings) {
    broker.Apply(settings);
    QDeadlineTimer connecting(10000);
    while (broker.State().Phase != TBrokerState::TPhase::Connected && !connecting.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (broker.State().Phase == TBrokerState::TPhase::Connected)
        return true;
    std::printf("the desk did not connect: %s\n", qPrintable(broker.StatusText()));
    return false;
}

// An alert "<prefix><n>" at 12.5.
inline std::string Payload(long long n, const std::string& symbolPrefix = "S") {
    return "{\"symbol\": \"" + symbolPrefix + std::to_string(n) + "\", \"price\": 12.5}";
}

inline // perSecond messages a second for count messages, in 1 ms slices; sentNs[n] the publish
       // time.
    void
    PublishPaced(TClient& client, const std::string& topicRoot, int windows, long long first,
                 long long count, int perSecond, std::vector<long long>* sentNs,
                 const std::string& symbolPrefix = "S") {
    const int perMs = std::max(1, perSecond / 1000);
    const long long stepNs = 1000000LL * perMs * 1000 / perSecond;
    long long due = NowNs();
    for (long long n = first; n < first + count;) {
        due += stepNs;
        SleepUntilNs(due);
        for (int k = 0; k < perMs && n < first + count; ++k, ++n) {
            if (sentNs && size_t(n) < sentNs->size())
                (*sentNs)[size_t(n)] = NowNs();
            client.Publish(topicRoot + std::to_string(n % windows), Payload(n, symbolPrefix));
        }
    }
}

} // namespace zkBenchMqtt
