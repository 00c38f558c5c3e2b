-- Wireshark dissector for the board frame (docs/board-protocol.md): the header fields by their
-- own names (frameLength, dataSymbol, frameIndex, packetIndex), the data area, the checksum, and
-- what the technician reads: the status of the board's replies and reports (error bits, resend
-- index, current maximum, version, band words), the commands' arguments, and each command paired
-- with its reply and the response time.
--
-- frameLength stands where Ethernet keeps an 802.3 length (and counts the whole frame, so
-- Ethernet flags it as too long): the Ethernet layer stays as Wireshark decodes it, and this
-- dissector runs after it, on frames to or from the PC's protocol MAC.
-- Use: wireshark -X lua_script:dissector/ferrolink.lua   (or copy it to the plugins folder)

local board = Proto("ferrolink", "Ferrolink board frame")

local PC_MAC = "7b:23:fc:98:10:99"

local S_PRINT, S_REPORT, S_REPLY = 0x0000, 0x0003, 0x0101
local S_END_OF_BAND, S_STATUS_QUERY, S_RESET, S_SET_ERRORS = 0x0010, 0x0011, 0x0012, 0x0013

local symbols = {
  [S_PRINT] = "PrintData", [S_REPORT] = "AutoReport", [S_END_OF_BAND] = "EndOfBand",
  [S_STATUS_QUERY] = "StatusQuery", [S_RESET] = "Reset", [S_SET_ERRORS] = "SetErrors",
  [S_REPLY] = "StatusReply",
}
local function is_command(symbol) return symbol >= S_END_OF_BAND and symbol <= S_SET_ERRORS end
local function is_status(symbol) return symbol == S_REPORT or symbol == S_REPLY end

-- The error word's bits, named as the host library's reply parser names them.
local error_bits = {
  [0] = { "b0_re_frame_ver_err", "Re_Frame_Ver_Err: a frame for the board failed its checksum (resend)" },
  [1] = { "b1_re_frame_lose_err", "Re_Frame_Lose_Err: packets of the band are missing (resend)" },
  [2] = { "b2_l2_wr_ddr2_over", "L2_Wr_DDR2_over: memory overflow while writing (fatal)" },
  [3] = { "b3_l2_rd_ddr2_fifo_verr", "L2_Rd_DDR2_FIFO_Verr: checksum error reading memory (fatal)" },
  [4] = { "b4_l2_rd_ddr2_fifo_zhentou", "L2_Rd_DDR2_FIFO_ZhenTou: no frame header reading memory (fatal)" },
  [5] = { "b5_l2_rd_ddr2_fifo_lose", "L2_Rd_DDR2_FIFO_Lose: frame lost reading memory (fatal)" },
  [6] = { "b6_l2_rd_ddr2_fifo_epty", "L2_Rd_DDR2_FIFO_Epty: memory empty when read (fatal)" },
  [7] = { "b7_rd_ddr2_fifo_fireoverrun", "Rd_DDR2_FIFO_FireOverrun: firing before the data was sent (fatal)" },
  [8] = { "b8_hb_fiber_redata_zhentou", "HB_Fiber_ReData_Zhentou: head board found no frame header" },
  [9] = { "b9", "Bit 9" },
  [10] = { "b10", "Bit 10" },
  [11] = { "b11_firstframe_fifoaddress_error", "FirstFrame_FifoAddress_Error" },
  [12] = { "b12_fifoadress_none_sequence", "FifoAdress_None_Sequence" },
  [13] = { "b13_ddr2_empty", "DDR2_Empty" },
}

local f = board.fields
f.frame_length = ProtoField.uint16("ferrolink.frame_length", "frameLength", base.DEC)
f.data_symbol = ProtoField.uint16("ferrolink.data_symbol", "dataSymbol", base.HEX, symbols)
f.frame_index = ProtoField.uint32("ferrolink.frame_index", "frameIndex (band)", base.DEC)
f.packet_index = ProtoField.uint32("ferrolink.packet_index", "packetIndex", base.DEC)
f.sequence = ProtoField.uint32("ferrolink.sequence", "Command sequence (packetIndex)", base.DEC)
f.report_number = ProtoField.uint32("ferrolink.report_number", "Report number (packetIndex)", base.DEC)
f.data = ProtoField.bytes("ferrolink.data", "Data area")
f.checksum = ProtoField.uint32("ferrolink.checksum", "Checksum", base.HEX)
f.checksum_status = ProtoField.uint8("ferrolink.checksum.status", "Checksum status", base.DEC,
  { [0] = "Bad", [1] = "Good" })

f.eob_packets = ProtoField.uint32("ferrolink.end_of_band.packets", "Packets in the band", base.DEC)
f.eob_band_bytes = ProtoField.uint32("ferrolink.end_of_band.band_bytes", "Band bytes", base.DEC)
f.eob_packet_size = ProtoField.uint32("ferrolink.end_of_band.packet_size", "Packet size", base.DEC)
f.set_errors = ProtoField.uint32("ferrolink.set_errors.bits", "Error bits to raise", base.HEX)

f.error_word = ProtoField.uint32("ferrolink.status.error", "Error word", base.HEX)
local bit_fields = {}
for bit = 0, 13 do
  bit_fields[bit] = ProtoField.bool("ferrolink.status.error." .. error_bits[bit][1],
    error_bits[bit][2], 32, nil, 2 ^ bit)
  f["error_" .. bit] = bit_fields[bit]
end
f.resend_index = ProtoField.int32("ferrolink.status.resend_index",
  "Resend index (first packetIndex to send again)", base.DEC)
f.current_maximum = ProtoField.int32("ferrolink.status.current_maximum",
  "Current maximum (last packetIndex of the intact prefix)", base.DEC)
f.version_high = ProtoField.uint16("ferrolink.status.version_high", "Version, high", base.DEC)
f.version_low = ProtoField.uint16("ferrolink.status.version_low", "Version, low", base.DEC)
f.band = ProtoField.uint32("ferrolink.status.band", "Band (frameIndex)", base.DEC)
f.packets_held = ProtoField.uint32("ferrolink.status.packets_held", "Packets of the band held", base.DEC)
f.bands_completed = ProtoField.uint32("ferrolink.status.bands_completed", "Bands completed", base.DEC)
f.sequence_answered = ProtoField.uint32("ferrolink.status.sequence_answered",
  "Last command sequence answered", base.DEC)

f.response_in = ProtoField.framenum("ferrolink.response_in", "Response in", base.NONE)
f.response_to = ProtoField.framenum("ferrolink.response_to", "Response to", base.NONE)
f.response_time = ProtoField.relative_time("ferrolink.response_time", "Response time")

local e_checksum = ProtoExpert.new("ferrolink.checksum.bad", "Bad checksum", expert.group.CHECKSUM,
  expert.severity.ERROR)
local e_length = ProtoExpert.new("ferrolink.frame_length.bad",
  "frameLength is shorter than 28 or longer than what was captured", expert.group.MALFORMED,
  expert.severity.ERROR)
local e_fatal = ProtoExpert.new("ferrolink.status.fatal", "The board reports a fatal error",
  expert.group.RESPONSE_CODE, expert.severity.ERROR)
local e_resend = ProtoExpert.new("ferrolink.status.resend", "The board asks for a resend",
  expert.group.SEQUENCE, expert.severity.WARN)
local e_unanswered = ProtoExpert.new("ferrolink.response_missing", "No reply to this command",
  expert.group.SEQUENCE, expert.severity.NOTE)
board.experts = { e_checksum, e_length, e_fatal, e_resend, e_unanswered }

-- Commands and replies of the capture, keyed by frameIndex and sequence: {command frame number,
-- its time, reply frame number}. Filled on the first pass; a second pass (or the GUI) also links
-- the command to its reply.
local exchanges = {}
function board.init() exchanges = {} end

local function word_sum(tvb, words)
  local sum = 0
  for i = 0, words - 1 do
    sum = (sum + tvb(i * 4, 4):uint()) % 4294967296
  end
  return sum
end

local function add_status(tree, tvb, data_end)
  if data_end < 24 + 32 then return nil end
  local word = tvb(24, 4):uint()
  local status = tree:add(tvb(24, 32), "Status")
  local bits = status:add(f.error_word, tvb(24, 4))
  for bit = 0, 13 do bits:add(bit_fields[bit], tvb(24, 4)) end
  status:add(f.resend_index, tvb(28, 4))
  status:add(f.current_maximum, tvb(32, 4))
  status:add(f.version_high, tvb(36, 2))
  status:add(f.version_low, tvb(38, 2))
  status:add(f.band, tvb(40, 4))
  status:add(f.packets_held, tvb(44, 4))
  status:add(f.bands_completed, tvb(48, 4))
  status:add(f.sequence_answered, tvb(52, 4))
  if bit.band(word, 0xFC) ~= 0 then status:add_proto_expert_info(e_fatal) end
  if bit.band(word, 0x03) ~= 0 then status:add_proto_expert_info(e_resend) end
  local set = {}
  for b = 0, 13 do
    if bit.band(word, 2 ^ b) ~= 0 then set[#set + 1] = "b" .. b end
  end
  return string.format("errors %s, resend %d, current max %d, version %d.%d",
    #set > 0 and table.concat(set, ",") or "none", tvb(28, 4):int(), tvb(32, 4):int(),
    tvb(36, 2):uint(), tvb(38, 2):uint())
end

local function add_command(tree, tvb, symbol, data_end)
  if symbol == S_END_OF_BAND and data_end >= 24 + 12 then
    tree:add(f.eob_packets, tvb(24, 4))
    tree:add(f.eob_band_bytes, tvb(28, 4))
    tree:add(f.eob_packet_size, tvb(32, 4))
    return string.format("%d packets, %d bytes, packet size %d", tvb(24, 4):uint(),
      tvb(28, 4):uint(), tvb(32, 4):uint())
  elseif symbol == S_SET_ERRORS and data_end >= 24 + 4 then
    tree:add(f.set_errors, tvb(24, 4))
    return string.format("bits 0x%04x", tvb(24, 4):uint())
  end
  return nil
end

local function pair(tree, pinfo, key, symbol)
  local exchange = exchanges[key]
  if is_command(symbol) then
    if not pinfo.visited then
      exchanges[key] = { command = pinfo.number, time = pinfo.rel_ts }
    elseif exchange and exchange.command == pinfo.number and exchange.reply then
      tree:add(f.response_in, exchange.reply):set_generated()
    elseif exchange and exchange.command == pinfo.number then
      tree:add_proto_expert_info(e_unanswered)
    end
  elseif exchange and exchange.command < pinfo.number and
      (exchange.reply == nil or exchange.reply == pinfo.number) then
    exchange.reply = pinfo.number
    tree:add(f.response_to, exchange.command):set_generated()
    -- Relative times are small numbers: a difference of epoch times would lose the nanoseconds.
    local elapsed = pinfo.rel_ts - exchange.time
    local seconds = math.floor(elapsed)
    tree:add(f.response_time, NSTime.new(seconds, math.floor((elapsed - seconds) * 1e9 + 0.5)))
      :set_generated()
  end
end

function board.dissector(tvb, pinfo, tree)
  if tvb:len() < 28 then return 0 end
  local dst = tostring(tvb(0, 6):ether())
  local src = tostring(tvb(6, 6):ether())
  if dst ~= PC_MAC and src ~= PC_MAC then return 0 end
  pinfo.cols.protocol = "FERROLINK"
  local length = tvb(12, 2):uint()
  local symbol = tvb(14, 2):uint()
  local frame_index = tvb(16, 4):uint()
  local packet_index = tvb(20, 4):uint()
  local t = tree:add(board, tvb(), "Ferrolink board frame")
  local length_item = t:add(f.frame_length, tvb(12, 2))
  t:add(f.data_symbol, tvb(14, 2))
  t:add(f.frame_index, tvb(16, 4))
  t:add(f.packet_index, tvb(20, 4))
  if is_command(symbol) or symbol == S_REPLY then
    t:add(f.sequence, tvb(20, 4)):set_generated()
  elseif symbol == S_REPORT then
    t:add(f.report_number, tvb(20, 4)):set_generated()
  end

  local name = symbols[symbol] or string.format("dataSymbol 0x%04x", symbol)
  local info
  if symbol == S_PRINT then
    info = string.format("%s band %d, packet %d", name, frame_index, packet_index)
  elseif symbol == S_REPORT then
    info = string.format("%s %d, band %d", name, packet_index, frame_index)
  else
    info = string.format("%s band %d, seq %d", name, frame_index, packet_index)
  end

  if length < 28 or length > tvb:len() then
    length_item:add_proto_expert_info(e_length)
    pinfo.cols.info = info .. " [BAD LENGTH]"
    return tvb:len()
  end
  if length > 28 then t:add(f.data, tvb(24, length - 28)) end
  local checksum = t:add(f.checksum, tvb(length - 4, 4))
  local good = word_sum(tvb, math.floor(length / 4)) == 0
  checksum:add(f.checksum_status, good and 1 or 0):set_generated()
  if not good then checksum:add_proto_expert_info(e_checksum) end

  local detail
  if is_status(symbol) then
    detail = add_status(t, tvb, length - 4)
  elseif is_command(symbol) then
    detail = add_command(t, tvb, symbol, length - 4)
  end
  if detail then info = info .. ": " .. detail end
  if good then
    if is_command(symbol) or symbol == S_REPLY then
      pair(t, pinfo, frame_index .. ":" .. packet_index, symbol)
    end
  else
    info = info .. " [BAD CHECKSUM]"
  end
  pinfo.cols.info = info
  return tvb:len()
end

-- After Ethernet (and whatever it makes of the bytes after an 802.3 length), so that the
-- Ethernet layer is what it is without this dissector.
register_postdissector(board)
