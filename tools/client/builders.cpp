#include "client/builders.h"

namespace vornhal::client {

namespace {

template <PacketIdEnum Id>
OutPacket Out(Id id, const TWireWriter& payload) {
  return OutPacket{IdByte(id), payload.Data()};
}

}  // namespace

OutPacket CVersionPacket(uint16_t version) { return Out(TMultiClientPacketId::kVersion, TWireWriter().U16(version)); }

OutPacket CCreateAccountPacket(std::string_view name, std::string_view password,
                               std::string_view real_name, std::string_view mail) {
  return Out(TMultiClientPacketId::kCreateAccount, TWireWriter().Str8(name).Str8(password).Str8(real_name).Str8(mail));
}

OutPacket CLoginPacket(std::string_view name, std::string_view password, bool force) {
  return Out(TMultiClientPacketId::kLogin, TWireWriter().Str8(name).Str8(password).U8(force ? 1 : 0));
}

OutPacket CAppearancePacket(uint8_t sex, uint8_t hair_type, TAsColor hair_color) {
  return Out(TMultiClientPacketId::kAppearance, TWireWriter().U8(sex).U8(hair_type).Color(hair_color));
}

OutPacket CTempDataPacket(uint8_t kind, std::string_view key) {
  TWireWriter w;
  w.U8(kind);
  if (kind == 2) w.U8(0).Str8(key);
  return Out(TMultiClientPacketId::kTempData, w);
}

OutPacket CRuleCheckPacket() { return Out(TMultiClientPacketId::kRuleCheck, TWireWriter().U8(0).Str8("")); }

OutPacket CChangePasswordPacket(std::string_view name, std::string_view old_password,
                                std::string_view new_password) {
  return Out(TMultiClientPacketId::kChangePassword, TWireWriter().Str8(name).Str8(old_password).Str8(new_password));
}

OutPacket CRuleRequestPacket() { return Out(TMultiClientPacketId::kRuleRequest, TWireWriter()); }

OutPacket CServerListPacket(uint8_t kind) {
  TWireWriter w;
  w.U8(kind);
  if (kind == 0) w.U8(0);
  return Out(TMultiClientPacketId::kServerList, w);
}

OutPacket CWebRequestPacket(uint8_t kind) { return Out(TMultiClientPacketId::kWebRequest, TWireWriter().U8(kind)); }

OutPacket CScriptRequestPacket(uint8_t kind, std::string_view script_name) {
  TWireWriter w;
  w.U8(kind);
  if (kind == 0) w.Str8(script_name);
  return Out(TMultiClientPacketId::kScript, w);
}

OutPacket CPickItemPacket(uint32_t object_id) { return Out(TZoneClientPacketId::kPickItem, TWireWriter().U32(object_id)); }

OutPacket CDropItemPacket(uint8_t kind, uint8_t slot, uint8_t count) {
  return Out(TZoneClientPacketId::kDropItem, TWireWriter().U8(0).U8(kind).U8(slot).U8(count));
}

OutPacket CDropGlodPacket(uint32_t amount) { return Out(TZoneClientPacketId::kDropGlod, TWireWriter().U32(amount)); }

OutPacket CServerInfoRequestPacket() { return Out(TZoneClientPacketId::kServerInfoRequest, TWireWriter()); }

OutPacket CChatPacket(uint8_t chat_type, std::string_view text) {
  return Out(TZoneClientPacketId::kChat, TWireWriter().U8(chat_type).Str8(text));
}

OutPacket CZoneLoginPacket(std::string_view name) {
  return Out(TZoneClientPacketId::kZoneLogin, TWireWriter().U8(0).Str8("").Str8(name));
}

OutPacket CDirectionPacket(uint8_t dir) { return Out(TZoneClientPacketId::kDirection, TWireWriter().U8(dir)); }

OutPacket CAttackPacket(uint32_t target_id) { return Out(TZoneClientPacketId::kAttack, TWireWriter().U32(target_id)); }

OutPacket CWhisperPacket(std::string_view target, std::string_view text) {
  return Out(TZoneClientPacketId::kWhisper, TWireWriter().U8(0).Str8(target).Str8(text));
}

OutPacket CUsePacket(uint8_t category, uint8_t slot, uint8_t inven_type, uint8_t type, const UseExtra& extra) {
  TWireWriter w;
  w.U8(category).U8(slot).U8(inven_type).U8(type);
  auto words = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) w.U16(i < extra.words.size() ? extra.words[i] : 0);
  };
  switch (type) {
    case 1: w.Str8(extra.text); break;
    case 2: w.U32(extra.value); break;
    case 3: words(4); break;
    case 4: words(3); break;
    case 6:
    case 9: words(2); break;
    case 7: words(1); break;
    case 8: w.U8(extra.slot_type).U8(extra.slot2); break;
    default: break;
  }
  return Out(TZoneClientPacketId::kUse, w);
}

OutPacket CUseItemPacket(uint8_t slot) { return CUsePacket(1, slot, 0, 5); }

OutPacket CMotionPacket(uint8_t kind, uint8_t value) {
  return Out(TZoneClientPacketId::kMotion, TWireWriter().U8(kind).U8(value).U32(0));
}

OutPacket CUnequipPacket(uint8_t equip_slot) {
  return Out(TZoneClientPacketId::kUnequip, TWireWriter().U8(equip_slot).U8(0).U8(0).U8(0));
}

OutPacket CItemShopPacket(uint8_t type, uint32_t value1, uint32_t value2) {
  TWireWriter w;
  w.U8(type);
  if (type == 1) w.U32(value1).U32(value2);
  return Out(TZoneClientPacketId::kItemShop, w);
}

OutPacket CChangeSlotPacket(uint8_t type, const ChangeSlotFields& f) {
  TWireWriter w;
  w.U8(type);
  switch (type) {
    case 0:
    case 1: w.U8(f.category).U8(f.slot1).U8(f.slot2); break;
    case 2: w.U8(f.category).U8(f.slot1).U32(f.elem_alloc); break;
    case 7: w.U8(f.weapon_alloc); break;
    case 8: w.U8(f.category).U8(f.slot1).U8(f.slot2).U8(f.number); break;
    default: break;
  }
  return Out(TZoneClientPacketId::kChangeSlot, w);
}

OutPacket CExchangeSlotsPacket(uint8_t slot1, uint8_t slot2) {
  ChangeSlotFields f;
  f.slot1 = slot1;
  f.slot2 = slot2;
  return CChangeSlotPacket(0, f);
}

OutPacket CMergeSlotsPacket(uint8_t src_slot, uint8_t dest_slot, uint8_t number) {
  ChangeSlotFields f;
  f.slot1 = src_slot;
  f.slot2 = dest_slot;
  f.number = number;
  return CChangeSlotPacket(8, f);
}

OutPacket CMovePacket(uint8_t dir, uint8_t seq) { return Out(TZoneClientPacketId::kMove, TWireWriter().U8(dir).U8(seq).U8(0)); }

OutPacket CSignalRequestPacket() { return Out(TZoneClientPacketId::kSignalRequest, TWireWriter().U32(0)); }

OutPacket CBattleMatchListPacket() { return Out(TZoneClientPacketId::kBattleMatchList, TWireWriter()); }

OutPacket CObjectInfoRequestPacket(uint8_t type, uint32_t id, uint16_t flags) {
  return Out(TZoneClientPacketId::kObjectInfoRequest, TWireWriter().U8(type).U32(id).U16(flags));
}

OutPacket CHPInfoRequestPacket(uint32_t object_id) {
  return Out(TZoneClientPacketId::kHPInfoRequest, TWireWriter().U32(object_id));
}

OutPacket CStatUpPacket(uint8_t code) { return Out(TZoneClientPacketId::kStatUp, TWireWriter().U8(code)); }

OutPacket CPathMovePacket(TMapPoint point, uint8_t dir, const std::vector<uint8_t>& steps, TMapPoint next,
                          uint8_t next_dir) {
  if (steps.size() > 255) throw ProtocolError("a path move carries at most 255 steps");
  TWireWriter w;
  w.U16(point.X).U16(point.Y).U8(dir).U8(static_cast<uint8_t>(steps.size())).Bytes(steps);
  w.U16(next.X).U16(next.Y).U8(next_dir);
  return Out(TZoneClientPacketId::kPathMove, w);
}

OutPacket CIgnoredPacket() { return Out(TZoneClientPacketId::kIgnored, TWireWriter().U8(0).U8(0)); }

OutPacket CScriptVariablesPacket(std::string_view script_name, uint32_t object_id, const Variables& variables) {
  if (variables.size() > 0xFFFF) throw ProtocolError("too many script variables");
  TWireWriter w;
  w.U8(1).Str8(script_name).U32(object_id).U16(static_cast<uint16_t>(variables.size()));
  for (const auto& [name, value] : variables) w.Str8(name).Str8(value);
  return Out(TZoneClientPacketId::kScript, w);
}

OutPacket CScriptEndPacket(std::string_view script_name, uint32_t object_id) {
  return Out(TZoneClientPacketId::kScript, TWireWriter().U8(4).Str8(script_name).U32(object_id));
}

OutPacket CScriptCodePacket(uint8_t code) { return Out(TZoneClientPacketId::kScript, TWireWriter().U8(code)); }

OutPacket CWebBoardPacket(uint8_t type) { return Out(TZoneClientPacketId::kWebBoard, TWireWriter().U8(type)); }

OutPacket CBulletinBoardPacket(uint8_t type, uint8_t index) {
  TWireWriter w;
  w.U8(type);
  if (type == 1 || type == 2 || type == 4) w.U8(index);
  return Out(TZoneClientPacketId::kBulletinBoard, w);
}

}  // namespace vornhal::client
