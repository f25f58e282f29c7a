// ZorModCommChannel (type "commchannel"): a plain TCP connection to a device
// that talks a line or byte protocol.
//
// Requests from the master side (its panel included):
//   KM_START, KM_COMM_OPEN   connect to the endpoint of "CommChannel"
//                            ("host:port"; a text starting with "sim" needs
//                            no device: the channel counts as connected)
//   KM_STOP, KM_COMM_CLOSE   close it
//   KM_COMM_DATA             write the data: in ASCII mode ("Mode" not "1")
//                            a text, CR appended unless it ends with CR or
//                            LF; in binary mode ("Mode" = "1") the bytes, or
//                            the text read as hexadecimal digits. Answered
//                            KS_ANSWER, or KS_FAIL when the write failed.
// Reports to the master side: every piece received as KM_COMM_DATA (ASCII:
// one text per CR-ended line; binary: the bytes as they come), the traffic
// log as KM_LOGTEXT ("TX: ", "RX: " lines, at most every 550 ms), status
// and info texts (prefixed "SIM " while simulated).
//
// "ManualCommand" is sent once while connected; the first data received
// afterwards becomes "ManualCommandAnswer". "ConnectedStatusSet" ("status,
// text") changes the status shown while connected, applied at the next
// KM_SETPROPERTY. A connection that the device closes is noticed at the next
// cycle and shown as an error (status 2000). The states are in the namespace
// CommChannelStates (zormodcommchannelstates.h).
#pragma once

#include "zormodule.h"

class ZorModCommChannel : public ZorModule
{
    Q_OBJECT
public:
    explicit ZorModCommChannel(QObject *parent = nullptr);
    ~ZorModCommChannel() override;

    Macho::StateRef rootStateRef() const override;

    static const char *const EndpointProperty;
    static const char *const ModeProperty;
};

// Creator for the project's module registry ("commchannel").
ZorModule *createCommChannelModule(QObject *parent);
