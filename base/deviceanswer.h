#ifndef DEVICEANSWER_H
#define DEVICEANSWER_H

#include <QString>

// What a device answered to one question of its HTTP protocol, read by the protocol's rules.
struct DeviceAnswer
{
    enum class Endpoint { MacAddress, DeviceName, FwVersion };
    enum class Kind {
        Value, // text holds the value
        Failed, // the device did not answer (error, timeout): an empty value
        Ignored // an answer the protocol does not accept: no value at all
    };

    Endpoint endpoint = Endpoint::MacAddress;
    Kind kind = Kind::Ignored;
    QString text;
};

#endif // DEVICEANSWER_H
