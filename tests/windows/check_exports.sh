#!/usr/bin/env bash
# Reads ferrolink.dll's exports table: FLK_SendPrintData under its undecorated name, a member of
# every exported class family, and no capture-library name (those are bound at run time inside).
set -euo pipefail
objdump=$1
dll=$2
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
status=0
grep -qx FLK_SendPrintData <<<"$exports" || { echo "FLK_SendPrintData is not exported undecorated"; status=1; }
for class in CConstValue CNetworkHelper CPacketDataWrapper CFindAllDevice CNpfPacketHelper CPCapOpen \
             CPCapOpen_CapFile CPCapOpen_Network CPCapOpen_Network_Internal CReceiveWPCapPacket \
             SWaitCheckParam CWaitReceivePacket; do
  grep -q "^_ZN${#class}${class}" <<<"$exports" || { echo "no export of class $class"; status=1; }
done
if grep -E '^(pcap_|Packet)' <<<"$exports"; then echo "capture-library names exported"; status=1; fi
[ $status -eq 0 ] && echo "exports: FLK_SendPrintData and $(wc -l <<<"$exports") names in all"
exit $status
