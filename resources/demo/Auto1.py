# Auto1: reads the device type (1000h) of CANopen node 1 and toggles its
# object 2000h ("Test unsigned8") a few times, through the CAN interface
# CAN1. Edit it here; F5 or Start runs it, Esc or Stop ends it.
import Quorvane as q
import time
# Lines that Macro Rec. adds call ZorSendMsg by its plain name.
from Quorvane import ZorSendMsg, ZorWaitMsg


def sdo(line):
    """Runs one SDO line through CAN1 and returns the value of its answer.

    The answer reads "CAN1:KM_INTERVIEW:KS_ANSWER:<line>:<node>,<index>,<subindex>,<type>,<value>".
    """
    answer = q.ZorSendMsg('CAN1:KM_INTERVIEW:KS_REQUEST:' + line, 'w')
    if ':KS_ANSWER:' not in answer:
        raise RuntimeError('no answer to %s: %s' % (line, answer))
    return answer.split(',')[-1]


# Opens the bus unless it is open already.
q.ZorSendMsg('CAN1:KM_COMM_OPEN:KS_REQUEST', 'b')

device_type = int(sdo('SDOReadObject:1000:0:1,1000h,0h,unsigned32'))
print('node 1 device type: 0x%08X (profile %d)' % (device_type, device_type & 0xFFFF))

for i in range(3):
    before = int(sdo('SDOReadObject:1000:0:1,2000h,0h,unsigned8'))
    sdo('SDOWriteObject:1000:0:1,2000h,0h,unsigned8,%d' % (before ^ 0xFF))
    after = int(sdo('SDOReadObject:1000:0:1,2000h,0h,unsigned8'))
    print('2000h: 0x%02X -> 0x%02X' % (before, after))
    time.sleep(0.5)
