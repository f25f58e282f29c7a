// Program download: writing a whole file or hex text into one object of a
// node ("SDODownload" lines), chunk by chunk, by SDO block download or, where
// the node cannot take that, by segmented download.
//
// Block download (CiA 301) moves data in blocks of up to 127 segments of
// seven bytes, each segment numbered 1..n and none answered on its own; the
// server (the node) chooses the block size n in its answer to the initiate
// request and confirms every block with the number of the last segment it
// took in order and the block size for the next block. Segments it did not
// take are sent again, numbered from 1, in the next block. An end request
// tells how many bytes of the last segment were unused and carries the
// CRC-16 of the data (polynomial x^16 + x^12 + x^5 + 1, initial value 0)
// when both sides support it: the client announces its support in the
// initiate request (bit 2), the server in its answer (A4h, or A0h without),
// and only when both did is the CRC computed and checked. A node that does
// not do block download at all aborts the initiate (or never answers it):
// the download then goes segmented at once. Segmented download answers every
// segment, with an alternating toggle bit.
//
// An "SDODownload" line is "node,index,subindex,options,chunk size,retries,
// data". Options: "f" the data is a file name (";" standing for ":"), else
// hex text; "b" block download; "l" the data is a sequence of records of 16
// header bytes and the payload length held in header bytes 8-11, one record
// a chunk; "a" chunks padded with blanks to the chunk size; "n" a 16-byte
// name in front of the data. Chunk size 0 sends everything as one chunk;
// retries is how often a failed chunk is begun again.
//
// Record headers are never trusted: a record reaching past the end of the
// data refuses the download before anything is sent.
//
// ZorSdoBlockDownload builds the exchanges ("CAN" lines, zorcanexchange.h)
// one after the other and reads the CAN interface's answer to each; the
// gateway's Downloading state sends them and reports the progress. The
// segments of a block that await no answer go to the CAN interface as plain
// frames ahead of the block's last segment, whose exchange waits for the
// node's confirmation: the interface writes them back to back in one go.
// Every expected answer names its command (a block confirmation, a segment
// confirmation with its toggle bit); an abort of the node that comes while
// segments or blocks are under way is seen in the received frames
// (abortReceived).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class ZorSdoBlockDownload
{
public:
    struct Step
    {
        enum Outcome { Continue, Finished, Failed };
        Outcome outcome = Continue;
        // Frame records to send as they are, before the exchange: the
        // segments of a block that await no answer.
        QList<QByteArray> frames;
        QString exchange;     // to send next (empty: none)
        int progress = -1;    // new percentage 0..99 to report, -1 none
    };

    void setBases(quint16 requestBase, quint16 responseBase);
    // Time-out of the lines that await the node's answer (1000 ms).
    void setLineTimeout(int ms) { m_lineTimeoutMs = ms; }

    // Reads the line's request and the data it names; false with the error
    // text that answers the line.
    bool setup(const QString &request, QString &error);
    // Checks the data and gives the first exchange; false with an error text
    // when no chunk can be built from it.
    bool start(QString &exchange, QString &error);
    // The answer of the CAN interface to the last exchange given out.
    // A block initiate answer (A0h, or A4h with the server's CRC bit).
    static bool isBlockInitiateAnswer(const QString &answerText);
    Step handleAnswer(const QString &answerText, bool exchangeOk);
    // A frame received while the download runs. True when it is the node's
    // abort of this transfer while blocks go out: the chunk failed, and step
    // says what follows (the chunk again while retries are left).
    bool abortReceived(quint32 cobId, const QByteArray &data, Step &step);
    // An exchange that aborts the transfer with that code and awaits nothing.
    QString abortExchange(quint32 code) const;

    int node() const { return m_node; }
    int index() const { return m_index; }
    int subIndex() const { return m_subIndex; }
    qint64 size() const { return m_data.size(); }
    bool blockMode() const { return m_block; }
    // True once the node refused block download and segmented took over.
    bool fellBack() const { return m_fellBack; }
    // The mode in use is settled: segmented was asked for, or the node has
    // answered the first block initiate (taken it, or refused it and
    // segmented took over).
    bool modeSettled() const { return !m_block || m_fellBack || m_blockTaken; }
    QString modeText() const;
    // True when the block under way (or the last one) uses the CRC: the node
    // announced it in its answer to the initiate.
    bool crcInUse() const { return m_crcInUse; }
    // CRC-16 of SDO block transfers (CiA 301): polynomial 1021h, initial
    // value 0, no reflection, no final XOR.
    static quint16 crc16(const QByteArray &data);
    const QByteArray &data() const { return m_data; }
    // Percentage of the data the node has confirmed, 0..100.
    int percent() const;
    // done * 100 / size without overflow for any image size.
    static int percentOf(qint64 done, qint64 size);

    static constexpr quint32 GeneralError = 0x08000000;

    // Data sent as records ("l"): each record is 16 header bytes and the
    // payload whose length header bytes 8 to 11 hold, little-endian, and the
    // records fill the data exactly. False with the reason when they do not.
    static bool checkRecordLayout(const QByteArray &data, QString &error);

private:
    enum Phase { Idle, Initiate, SubBlock, End, Segments };

    bool checkRecords(QString &error) const;
    bool nextChunk();
    QByteArray segment(int i, int &used) const;
    QString requestFrame(const QByteArray &data) const;
    QString chunkExchange();
    // The block's segments but the last as frames, the last as exchange.
    QString subBlockExchange(QList<QByteArray> &frames);
    QString endExchange() const;
    QString segmentedExchange();
    Step chunkDone();
    // The chunk failed: begun again (after an abort of ours when the node
    // may still be inside the transfer) while retries are left.
    Step retryChunk(bool sendAbort = true);
    Step fail(bool sendAbort = true);
    Step initiateAnswered(const QString &answerText);
    Step fallBackToSegmented(bool sendAbort);

    quint16 m_requestBase = 0x600;
    quint16 m_responseBase = 0x580;
    int m_lineTimeoutMs = 1000;

    quint8 m_node = 0;
    quint16 m_index = 0;
    quint8 m_subIndex = 0;
    bool m_block = false;
    bool m_fellBack = false;
    bool m_blockTaken = false;  // the node took a block initiate
    bool m_crcInUse = false;
    bool m_records = false;
    bool m_pad = false;
    quint16 m_chunkSize = 0;
    quint16 m_retries = 0;
    QByteArray m_data;

    // The chunk under way.
    Phase m_phase = Idle;
    qint64 m_position = 0;      // data put into chunks so far
    qint64 m_chunkStart = 0;
    QByteArray m_chunk;
    int m_segments = 0;         // segments of the chunk
    int m_confirmed = 0;        // segments the node confirmed
    int m_blockSize = 0;        // granted by the node
    int m_sentInBlock = 0;      // segments in the sub-block under way
    int m_toggle = 0;           // segmented mode
    int m_retryCount = 0;
    int m_stalls = 0;           // block confirmations without progress
    int m_lastPercent = 0;
};
