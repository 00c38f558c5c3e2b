-- Wireshark dissector for the board frame: Ethernet addresses, then (where an EtherType would
-- stand) the whole frame's length, data symbol, frame and packet index, the data area and the
-- checksum. Frames from or to the protocol MACs are recognised by their PC address.
-- Use: wireshark -X lua_script:dissector/ferrolink.lua   (or copy it to the plugins folder)

local board = Proto("ferrolink", "Ferrolink board frame")

local symbols = {
  [0x0000] = "Print data", [0x0003] = "Check / periodic report", [0x0010] = "End of band",
  [0x0011] = "Status query", [0x0012] = "Reset", [0x0013] = "Set errors", [0x0101] = "Status reply",
}

local f = board.fields
f.length = ProtoField.uint16("ferrolink.length", "Frame length", base.DEC)
f.symbol = ProtoField.uint16("ferrolink.symbol", "Data symbol", base.HEX, symbols)
f.frame_index = ProtoField.uint32("ferrolink.frame_index", "Frame index", base.DEC)
f.packet_index = ProtoField.uint32("ferrolink.packet_index", "Packet index", base.DEC)
f.data = ProtoField.bytes("ferrolink.data", "Data area")
f.checksum = ProtoField.uint32("ferrolink.checksum", "Checksum", base.HEX)
f.checksum_ok = ProtoField.bool("ferrolink.checksum_ok", "Checksum valid")

local PC_MAC = "7b:23:fc:98:10:99"

local function word_sum(tvb, words)
  local sum = 0
  for i = 0, words - 1 do
    sum = (sum + tvb(i * 4, 4):uint()) % 4294967296
  end
  return sum
end

function board.dissector(tvb, pinfo, tree)
  if tvb:len() < 28 then return 0 end
  local dst = tostring(tvb(0, 6):ether())
  local src = tostring(tvb(6, 6):ether())
  if dst ~= PC_MAC and src ~= PC_MAC then return 0 end
  pinfo.cols.protocol = "FERROLINK"
  local length = tvb(12, 2):uint()
  local symbol = tvb(14, 2):uint()
  local t = tree:add(board, tvb(), "Ferrolink board frame")
  t:add(f.length, tvb(12, 2))
  t:add(f.symbol, tvb(14, 2))
  t:add(f.frame_index, tvb(16, 4))
  t:add(f.packet_index, tvb(20, 4))
  local last = math.min(length, tvb:len())
  if last > 28 then t:add(f.data, tvb(24, last - 28)) end
  if last >= 28 then t:add(f.checksum, tvb(last - 4, 4)) end
  t:add(f.checksum_ok, word_sum(tvb, math.floor(last / 4)) == 0)
  pinfo.cols.info = string.format("%s, frame %d, packet %d, %d bytes",
    symbols[symbol] or string.format("symbol 0x%04x", symbol),
    tvb(16, 4):uint(), tvb(20, 4):uint(), length)
  return tvb:len()
end

-- The length field sits where an 802.3 length would: take every Ethernet frame first, fall back
-- to the usual dissection when it is not ours.
board:register_heuristic("eth", board.dissector)
