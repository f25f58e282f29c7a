#include "zorsdoblockdownload.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cctype>
#include <cstring>

namespace {

// Segments of a segmented download sent as one exchange: small enough that
// an abort stops the transfer soon, large enough to keep the bus busy.
constexpr int SegmentsPerExchange = 127;
// Block confirmations in a row that take no segment before the chunk counts
// as failed.
constexpr int MaxStalls = 3;

// Commands of block download (CiA 301).
constexpr quint8 InitiateBlockCrcSize = 0xc6;   // client supports CRC, size indicated
constexpr quint8 AbortCommand = 0x80;
constexpr quint8 ServerCrcBit = 0x04;
constexpr quint32 InvalidBlockSize = 0x05040002;
constexpr quint32 InvalidSequenceNumber = 0x05040003;

QString tr(const char *text)
{
    return QCoreApplication::translate("ZorSdoBlockDownload", text);
}

bool readUShort(const QString &text, quint16 &value)
{
    bool ok = false;
    const quint32 v = ZorBabelFish::stringToULong(text, &ok);
    if (!ok || v > 0xffff)
        return false;
    value = quint16(v);
    return true;
}

// Two hexadecimal digits a byte; blanks are allowed between them.
bool readHex(const QString &text, QByteArray &bytes)
{
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    if (digits.size() % 2)
        return false;
    for (const QChar c : qAsConst(digits)) {
        if (!isxdigit(c.toLatin1()) || c.unicode() > 0x7f)
            return false;
    }
    bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}

} // namespace

void ZorSdoBlockDownload::setBases(quint16 requestBase, quint16 responseBase)
{
    m_requestBase = requestBase;
    m_responseBase = responseBase;
}

quint16 ZorSdoBlockDownload::crc16(const QByteArray &data)
{
    quint16 crc = 0;
    for (const char c : data) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QString ZorSdoBlockDownload::modeText() const
{
    return m_block && !m_fellBack ? tr("block (fast)") : tr("segmented (slow)");
}

bool ZorSdoBlockDownload::setup(const QString &request, QString &error)
{
    const QString illegal = tr("error - illegal parameters");
    const QStringList fields = request.split(QLatin1Char(','));
    bool okNode = false, okIndex = false, okSub = false;
    const quint32 node = ZorBabelFish::stringToULong(fields.value(0), &okNode);
    const quint32 index = ZorBabelFish::stringToULong(fields.value(1), &okIndex);
    const quint32 sub = ZorBabelFish::stringToULong(fields.value(2), &okSub);
    if (fields.size() < 7 || !okNode || node < 1 || node > 127 || !okIndex || index > 0xffff || !okSub
        || sub > 0xff || !readUShort(fields.at(4), m_chunkSize) || !readUShort(fields.at(5), m_retries)) {
        error = illegal;
        return false;
    }
    m_node = quint8(node);
    m_index = quint16(index);
    m_subIndex = quint8(sub);
    const QString options = fields.at(3).trimmed().toLower();
    m_block = options.contains(QLatin1Char('b'));
    m_records = options.contains(QLatin1Char('l'));
    m_pad = options.contains(QLatin1Char('a'));
    // The data is everything after the sixth comma (a file name may hold commas).
    QString dataField = request.section(QLatin1Char(','), 6).trimmed();

    QString name = QStringLiteral("Untitled");
    if (options.contains(QLatin1Char('f'))) {
        dataField.replace(QLatin1Char(';'), QLatin1Char(':'));
        QFile file(dataField);
        if (file.open(QIODevice::ReadOnly))
            m_data = file.readAll();
        name = QFileInfo(dataField).completeBaseName();
    } else if (!readHex(dataField, m_data)) {
        error = illegal;
        return false;
    }
    if (m_data.isEmpty()) {
        error = tr("error - no data / file not found");
        return false;
    }
    if (options.contains(QLatin1Char('n')))
        m_data.prepend(name.leftJustified(16, QLatin1Char(' '), true).toLatin1());
    return true;
}

bool ZorSdoBlockDownload::checkRecordLayout(const QByteArray &data, QString &error)
{
    const qint64 size = data.size();
    if (size == 0) {
        error = tr("no records");
        return false;
    }
    for (qint64 pos = 0; pos < size;) {
        if (size - pos < 16) {
            error = tr("record header cut short at byte %1").arg(pos);
            return false;
        }
        const qint64 length = 16 + qint64(ZorCanExchange::getUnsigned(data, int(pos + 8), 4));
        if (length > size - pos) {
            error = tr("record at byte %1 reaches past the end of the data").arg(pos);
            return false;
        }
        pos += length;
    }
    return true;
}

bool ZorSdoBlockDownload::checkRecords(QString &error) const
{
    if (!m_records || checkRecordLayout(m_data, error))
        return true;
    error = tr("error - ") + error;
    return false;
}

bool ZorSdoBlockDownload::start(QString &exchange, QString &error)
{
    if (!checkRecords(error))
        return false;
    m_position = 0;
    m_lastPercent = 0;
    m_fellBack = false;
    m_blockTaken = false;
    m_crcInUse = false;
    if (!nextChunk()) {
        error = tr("error (internal): wrong data format");
        return false;
    }
    exchange = chunkExchange();
    return true;
}

bool ZorSdoBlockDownload::nextChunk()
{
    const qint64 size = m_data.size();
    if (m_position >= size)
        return false;
    qint64 length;
    if (m_records)
        length = 16 + qint64(ZorCanExchange::getUnsigned(m_data, int(m_position + 8), 4));
    else
        length = m_chunkSize ? qint64(m_chunkSize) : size;
    // Record lengths were checked against the data; other chunks are at most
    // 65535 bytes or the data itself, so the chunk never exceeds the data.
    const qint64 available = qMin(length, size - m_position);
    m_chunk = m_data.mid(int(m_position), int(available));
    if (m_pad && available < length)
        m_chunk.append(QByteArray(int(length - available), ' '));
    m_chunkStart = m_position;
    m_position = qMin(size, m_position + length);
    m_segments = int((m_chunk.size() + 6) / 7);
    m_confirmed = 0;
    m_retryCount = 0;
    return true;
}

QByteArray ZorSdoBlockDownload::segment(int i, int &used) const
{
    used = qMin(7, m_chunk.size() - i * 7);
    QByteArray bytes(8, '\0');
    bytes.replace(1, used, m_chunk.constData() + i * 7, used);
    return bytes;
}

QString ZorSdoBlockDownload::requestFrame(const QByteArray &data) const
{
    return ZorCanExchange::frameText(m_requestBase + m_node, data);
}

QString ZorSdoBlockDownload::abortExchange(quint32 code) const
{
    QByteArray data = ZorCanExchange::bytes8({0x80, m_index & 0xff, m_index >> 8, m_subIndex});
    ZorCanExchange::putUnsigned(data, 4, code, 4);
    return ZorCanExchange::line(0, requestFrame(data), ZorCanExchange::NoResponse);
}

// The first exchange of the chunk under way.
QString ZorSdoBlockDownload::chunkExchange()
{
    m_confirmed = 0;
    m_stalls = 0;
    m_toggle = 0;
    m_crcInUse = false;
    if (!m_block || m_fellBack) {
        m_phase = Segments;
        return segmentedExchange();
    }
    const int any = ZorCanExchange::AnyByte;
    QByteArray init = ZorCanExchange::bytes8({InitiateBlockCrcSize, m_index & 0xff, m_index >> 8, m_subIndex});
    ZorCanExchange::putUnsigned(init, 4, quint32(m_chunk.size()), 4);
    // A0h or A4h (the node supports the CRC) with the block size it grants
    // in the fifth byte, or its abort (80h) when it does no block download.
    m_phase = Initiate;
    return ZorCanExchange::line(m_lineTimeoutMs, requestFrame(init),
                                ZorCanExchange::patternText(m_responseBase + m_node, QStringLiteral("[a8][04]"),
                                                            {m_index & 0xff, m_index >> 8, m_subIndex, any, any,
                                                             any, any}));
}

QString ZorSdoBlockDownload::subBlockExchange(QList<QByteArray> &frames)
{
    const int any = ZorCanExchange::AnyByte;
    const quint32 request = m_requestBase + m_node;
    const quint32 response = m_responseBase + m_node;
    m_sentInBlock = qMin(m_blockSize, m_segments - m_confirmed);
    // The segments that await no answer go as frame records of their own.
    VSCAN_MSG frame = {};
    frame.Id = request;
    frame.Size = 8;
    frame.Flags = VSCAN_FLAGS_STANDARD;
    frames.reserve(m_sentInBlock - 1);
    for (int seq = 1; seq < m_sentInBlock; ++seq) {
        const int i = m_confirmed + seq - 1;
        frame.Data[0] = quint8(seq);
        memcpy(frame.Data + 1, m_chunk.constData() + i * 7, size_t(qMin(7, m_chunk.size() - i * 7)));
        QByteArray record;
        ZorBabelFish::fromVscanToQbytearray(frame, record);
        frames << record;
    }
    // The node's confirmation tells how far it got and the next size.
    const int last = m_confirmed + m_sentInBlock - 1;
    int used = 0;
    QByteArray seg = segment(last, used);
    seg[0] = char(m_sentInBlock | (last == m_segments - 1 ? 0x80 : 0));
    m_phase = SubBlock;
    return ZorCanExchange::line(m_lineTimeoutMs, requestFrame(seg),
                                ZorCanExchange::patternText(response, {0xa2, any, any, any, any, any, any, any}));
}

QString ZorSdoBlockDownload::endExchange() const
{
    const int lastBytes = m_chunk.size() - (m_segments - 1) * 7;
    QByteArray end = ZorCanExchange::bytes8({0xc1 | ((7 - lastBytes) << 2)});
    // Without the CRC on both sides the field stays 0.
    if (m_crcInUse)
        ZorCanExchange::putUnsigned(end, 1, crc16(m_chunk), 2);
    return ZorCanExchange::line(m_lineTimeoutMs, requestFrame(end),
                                ZorCanExchange::patternText(m_responseBase + m_node, {0xa1, 0, 0, 0, 0, 0, 0, 0}));
}

QString ZorSdoBlockDownload::segmentedExchange()
{
    const int any = ZorCanExchange::AnyByte;
    const quint32 response = m_responseBase + m_node;
    QString text;
    if (m_confirmed == 0) {
        QByteArray init = ZorCanExchange::bytes8({0x21, m_index & 0xff, m_index >> 8, m_subIndex});
        ZorCanExchange::putUnsigned(init, 4, quint32(m_chunk.size()), 4);
        text = ZorCanExchange::line(m_lineTimeoutMs, requestFrame(init),
                                    ZorCanExchange::patternText(response, {0x60, m_index & 0xff, m_index >> 8,
                                                                           m_subIndex, any, any, any, any}));
    }
    m_sentInBlock = qMin(SegmentsPerExchange, m_segments - m_confirmed);
    int toggle = m_toggle;
    for (int n = 0; n < m_sentInBlock; ++n) {
        const int i = m_confirmed + n;
        int used = 0;
        QByteArray seg = segment(i, used);
        const bool last = i == m_segments - 1;
        seg[0] = char(last ? (toggle << 4) | ((7 - used) << 1) | 1 : toggle << 4);
        text += ZorCanExchange::line(m_lineTimeoutMs, requestFrame(seg),
                                     ZorCanExchange::patternText(response, {0x20 | (toggle << 4), any, any, any,
                                                                            any, any, any, any}));
        toggle ^= 1;
    }
    return text;
}

int ZorSdoBlockDownload::percentOf(qint64 done, qint64 size)
{
    return size > 0 ? int(qBound<qint64>(0, done, size) * 100 / size) : 0;
}

int ZorSdoBlockDownload::percent() const
{
    const qint64 size = m_data.size();
    const qint64 done = m_phase == Idle && m_position >= size
        ? size : m_chunkStart + qMin(qint64(m_confirmed) * 7, qint64(m_chunk.size()));
    return percentOf(done, size);
}

ZorSdoBlockDownload::Step ZorSdoBlockDownload::handleAnswer(const QString &answerText, bool exchangeOk)
{
    Step step;
    if (m_phase == Idle)
        return step;
    if (!exchangeOk) {
        // The node never answered the block initiate: the rest goes
        // segmented, and this chunk starts again at once.
        if (m_phase == Initiate && m_block && !m_fellBack && !m_blockTaken && m_chunkStart == 0)
            return fallBackToSegmented(true);
        return retryChunk();
    }
    switch (m_phase) {
    case End:
        m_confirmed = m_segments;
        return chunkDone();
    case Initiate:
        return initiateAnswered(answerText);
    case SubBlock: {
        const QStringList lines = ZorCanExchange::resultLines(answerText);
        quint32 cobId = 0;
        QByteArray data;
        if (lines.isEmpty() || !ZorCanExchange::answerFrame(lines.last(), cobId, data) || data.size() != 8)
            return retryChunk();
        const int acked = quint8(data.at(1));
        const int nextSize = quint8(data.at(2));
        if (acked > m_sentInBlock || nextSize < 1 || nextSize > 127) {
            step.outcome = Step::Failed;
            step.exchange = abortExchange(acked > m_sentInBlock ? InvalidSequenceNumber : InvalidBlockSize);
            m_phase = Idle;
            return step;
        }
        m_confirmed += acked;
        m_blockSize = nextSize;
        m_stalls = acked ? 0 : m_stalls + 1;
        if (m_stalls >= MaxStalls)
            return retryChunk();
        if (m_confirmed >= m_segments) {
            step.exchange = endExchange();
            m_phase = End;
        } else {
            step.exchange = subBlockExchange(step.frames);
        }
        break;
    }
    case Segments:
        m_confirmed += m_sentInBlock;
        if (m_sentInBlock % 2)
            m_toggle ^= 1;
        if (m_confirmed >= m_segments)
            return chunkDone();
        step.exchange = segmentedExchange();
        break;
    case Idle:
        break;
    }
    const int p = qMin(99, percent());
    if (p != m_lastPercent) {
        m_lastPercent = p;
        step.progress = p;
    }
    return step;
}

ZorSdoBlockDownload::Step ZorSdoBlockDownload::initiateAnswered(const QString &answerText)
{
    Step step;
    quint32 cobId = 0;
    QByteArray data;
    const QString line = answerText.section(QLatin1Char('\n'), 0, 0);
    if (!ZorCanExchange::answerFrame(line, cobId, data) || data.size() != 8)
        return retryChunk();
    const quint8 command = quint8(data.at(0));
    if (command == AbortCommand) {
        // The node does no block download (or not into this object): the
        // first chunk goes segmented at once, the node has left the transfer.
        if (!m_fellBack && !m_blockTaken && m_chunkStart == 0)
            return fallBackToSegmented(false);
        return retryChunk(false);
    }
    if ((command & ~ServerCrcBit) != 0xa0)
        return retryChunk();
    m_blockTaken = true;
    m_crcInUse = command & ServerCrcBit;
    m_blockSize = quint8(data.at(4));
    if (m_blockSize < 1 || m_blockSize > 127) {
        step.outcome = Step::Failed;
        step.exchange = abortExchange(InvalidBlockSize);
        m_phase = Idle;
        return step;
    }
    step.exchange = subBlockExchange(step.frames);
    return step;
}

ZorSdoBlockDownload::Step ZorSdoBlockDownload::fallBackToSegmented(bool sendAbort)
{
    m_fellBack = true;
    Step step;
    step.exchange = (sendAbort ? abortExchange(GeneralError) : QString()) + chunkExchange();
    return step;
}

bool ZorSdoBlockDownload::abortReceived(quint32 cobId, const QByteArray &data, Step &step)
{
    const bool isAbort = cobId == quint32(m_responseBase + m_node) && data.size() == 8 && quint8(data.at(0)) == AbortCommand
              && ZorCanExchange::getUnsigned(data, 1, 2) == m_index && quint8(data.at(3)) == m_subIndex;
    // Refused initiates arrive as the initiate's answer. While blocks go
    // out, the exchange under way waits for one answer only (a block
    // confirmation, the end confirmation), so the chunk begins again at once;
    // the node has left the transfer (a CRC it found wrong, its own
    // time-out). The lines of a segmented exchange would go on being sent, so
    // that exchange is left to end by its time-out, after which the chunk
    // begins again as well.
    if (!isAbort || (m_phase != SubBlock && m_phase != End))
        return false;
    step = retryChunk(false);
    return true;
}

ZorSdoBlockDownload::Step ZorSdoBlockDownload::chunkDone()
{
    Step step;
    if (!nextChunk()) {
        m_phase = Idle;
        step.outcome = Step::Finished;
        return step;
    }
    step.exchange = chunkExchange();
    const int p = qMin(99, percent());
    if (p != m_lastPercent) {
        m_lastPercent = p;
        step.progress = p;
    }
    return step;
}

ZorSdoBlockDownload::Step ZorSdoBlockDownload::retryChunk(bool sendAbort)
{
    if (m_retryCount >= m_retries)
        return fail(sendAbort);
    ++m_retryCount;
    // The node may still be inside the failed transfer: abort it first.
    Step step;
    step.exchange = (sendAbort ? abortExchange(GeneralError) : QString()) + chunkExchange();
    return step;
}

ZorSdoBlockDownload::Step ZorSdoBlockDownload::fail(bool sendAbort)
{
    Step step;
    step.outcome = Step::Failed;
    if (sendAbort)
        step.exchange = abortExchange(GeneralError);
    m_phase = Idle;
    return step;
}
