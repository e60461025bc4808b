// The registry store: trees of keys with typed values, names compared without regard to case,
// data kept byte for byte. One mutex guards the whole store.
#include <tapkernel/Registry.h>
#include <tapkernel/Text.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace tapkernel {

class RegistryKey {
public:
    std::u16string name;
    RegistryKey *parent = nullptr;
    std::vector<RegistryKeyRef> children; // creation order
    std::vector<RegistryValue> values;    // creation order
    bool deleted = false;
};

namespace {

std::vector<std::u16string_view> Split(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

RegistryKeyRef Child(const RegistryKeyRef &key, std::u16string_view name)
{
    for (const RegistryKeyRef &child : key->children) {
        if (EqualsNoCase(child->name, name)) {
            return child;
        }
    }
    return nullptr;
}

RegistryKeyRef MakeChild(const RegistryKeyRef &key, std::u16string_view name)
{
    auto child = std::make_shared<RegistryKey>();
    child->name = std::u16string(name);
    child->parent = key.get();
    key->children.push_back(child);
    return child;
}

RegistryValue *FindValue(RegistryKey &key, std::u16string_view name)
{
    for (RegistryValue &value : key.values) {
        if (EqualsNoCase(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

void MarkDeleted(RegistryKey &key)
{
    key.deleted = true;
    for (RegistryKeyRef &child : key.children) {
        MarkDeleted(*child);
    }
    key.children.clear();
}

bool Detach(RegistryKey &key)
{
    if (key.parent == nullptr) {
        return false;
    }
    auto &siblings = key.parent->children;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [&](const RegistryKeyRef &child) { return child.get() == &key; }),
                   siblings.end());
    key.parent = nullptr;
    return true;
}

std::u16string PathOf(const RegistryKey &key)
{
    if (key.parent == nullptr) {
        return u"\\Registry\\" + key.name;
    }
    return PathOf(*key.parent) + u"\\" + key.name;
}

std::string Hex(const std::vector<uint8_t> &data)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : data) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

void Save(const RegistryKey &key, std::ostringstream &out)
{
    out << '[' << ToUtf8(PathOf(key)) << "]\n";
    for (const RegistryValue &value : key.values) {
        out << QuotedText(ToUtf8(value.name)) << '=' << value.type << ':' << Hex(value.data) << '\n';
    }
    for (const RegistryKeyRef &child : key.children) {
        Save(*child, out);
    }
}

bool ParseHex(const std::string &text, std::vector<uint8_t> *data)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = nibble(text[i]);
        int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        data->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

} // namespace

RegistryStore::RegistryStore()
{
    machine_ = std::make_shared<RegistryKey>();
    machine_->name = u"Machine";
    users_ = std::make_shared<RegistryKey>();
    users_->name = u"User";
    MakeChild(users_, CurrentUserSid());
}

RegistryStore::~RegistryStore() = default;

std::u16string RegistryStore::CurrentUserSid()
{
    return u"S-1-5-21-1004336348-1177238915-682003330-1000";
}

RegistryKeyRef RegistryStore::Root(Hive hive)
{
    std::lock_guard<std::mutex> held(mutex_);
    switch (hive) {
    case Hive::LocalMachine:
        return machine_;
    case Hive::Users:
        return users_;
    case Hive::CurrentUser: {
        RegistryKeyRef user = Child(users_, CurrentUserSid());
        return user ? user : MakeChild(users_, CurrentUserSid());
    }
    }
    return nullptr;
}

RegistryKeyRef RegistryStore::Open(const RegistryKeyRef &base, std::u16string_view path)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!base || base->deleted) {
        return nullptr;
    }
    RegistryKeyRef key = base;
    for (std::u16string_view part : Split(path)) {
        key = Child(key, part);
        if (!key) {
            return nullptr;
        }
    }
    return key;
}

RegistryKeyRef RegistryStore::Create(const RegistryKeyRef &base, std::u16string_view path, bool createParents,
                                     bool *created)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (created != nullptr) {
        *created = false;
    }
    if (!base || base->deleted) {
        return nullptr;
    }
    std::vector<std::u16string_view> parts = Split(path);
    RegistryKeyRef key = base;
    for (size_t i = 0; i < parts.size(); ++i) {
        RegistryKeyRef next = Child(key, parts[i]);
        if (!next) {
            if (!createParents && i + 1 < parts.size()) {
                return nullptr;
            }
            next = MakeChild(key, parts[i]);
            if (created != nullptr && i + 1 == parts.size()) {
                *created = true;
            }
        }
        key = next;
    }
    return key;
}

RegistryKeyRef RegistryStore::OpenKernelPath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts = Split(path);
    if (parts.size() < 2 || !EqualsNoCase(parts[0], u"Registry") || (!path.empty() && path[0] != u'\\')) {
        return nullptr;
    }
    RegistryKeyRef root;
    if (EqualsNoCase(parts[1], u"Machine")) {
        root = Root(Hive::LocalMachine);
    } else if (EqualsNoCase(parts[1], u"User")) {
        root = Root(Hive::Users);
    } else {
        return nullptr;
    }
    std::u16string rest;
    for (size_t i = 2; i < parts.size(); ++i) {
        rest += parts[i];
        rest += u'\\';
    }
    return Open(root, rest);
}

bool RegistryStore::DeleteKey(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!key || key->deleted || !key->children.empty() || key->parent == nullptr) {
        return false;
    }
    Detach(*key);
    MarkDeleted(*key);
    return true;
}

bool RegistryStore::DeleteTree(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!key || key->deleted || key->parent == nullptr) {
        return false;
    }
    Detach(*key);
    MarkDeleted(*key);
    return true;
}

bool RegistryStore::IsDeleted(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    return !key || key->deleted;
}

bool RegistryStore::SetValue(const RegistryKeyRef &key, std::u16string_view name, uint32_t type, const void *data,
                             size_t length)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!key || key->deleted) {
        return false;
    }
    auto *bytes = static_cast<const uint8_t *>(data);
    std::vector<uint8_t> copy(bytes, bytes + length);
    if (RegistryValue *value = FindValue(*key, name)) {
        value->type = type;
        value->data = std::move(copy);
        return true;
    }
    key->values.push_back(RegistryValue{std::u16string(name), type, std::move(copy)});
    return true;
}

std::optional<RegistryValue> RegistryStore::QueryValue(const RegistryKeyRef &key, std::u16string_view name)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!key || key->deleted) {
        return std::nullopt;
    }
    if (RegistryValue *value = FindValue(*key, name)) {
        return *value;
    }
    return std::nullopt;
}

bool RegistryStore::DeleteValue(const RegistryKeyRef &key, std::u16string_view name)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!key || key->deleted) {
        return false;
    }
    auto &values = key->values;
    auto it = std::find_if(values.begin(), values.end(), [&](const RegistryValue &v) { return EqualsNoCase(v.name, name); });
    if (it == values.end()) {
        return false;
    }
    values.erase(it);
    return true;
}

std::vector<std::u16string> RegistryStore::SubkeyNames(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    std::vector<std::u16string> names;
    if (key && !key->deleted) {
        for (const RegistryKeyRef &child : key->children) {
            names.push_back(child->name);
        }
    }
    return names;
}

std::vector<RegistryValue> RegistryStore::Values(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    if (!key || key->deleted) {
        return {};
    }
    return key->values;
}

std::u16string RegistryStore::Name(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    return key ? key->name : std::u16string();
}

std::u16string RegistryStore::FullPath(const RegistryKeyRef &key)
{
    std::lock_guard<std::mutex> held(mutex_);
    return key ? PathOf(*key) : std::u16string();
}

void RegistryStore::SetDword(Hive hive, const std::string &path, const std::string &name, uint32_t value)
{
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    SetValue(Create(Root(hive), ToUtf16(path)), ToUtf16(name), 4 /* REG_DWORD */, bytes, sizeof bytes);
}

void RegistryStore::SetString(Hive hive, const std::string &path, const std::string &name, const std::string &value)
{
    std::u16string text = ToUtf16(value);
    SetValue(Create(Root(hive), ToUtf16(path)), ToUtf16(name), 1 /* REG_SZ */, text.c_str(),
             (text.size() + 1) * sizeof(char16_t));
}

void RegistryStore::SetBinary(Hive hive, const std::string &path, const std::string &name,
                              const std::vector<uint8_t> &data)
{
    SetValue(Create(Root(hive), ToUtf16(path)), ToUtf16(name), 3 /* REG_BINARY */, data.data(), data.size());
}

std::optional<RegistryValue> RegistryStore::Query(Hive hive, const std::string &path, const std::string &name)
{
    return QueryValue(Open(Root(hive), ToUtf16(path)), ToUtf16(name));
}

std::string RegistryStore::SaveText()
{
    std::lock_guard<std::mutex> held(mutex_);
    std::ostringstream out;
    Save(*machine_, out);
    Save(*users_, out);
    return out.str();
}

bool RegistryStore::LoadText(const std::string &text, std::string *error)
{
    auto fail = [&](size_t line, const std::string &why) {
        if (error != nullptr) {
            *error = "line " + std::to_string(line) + ": " + why;
        }
        return false;
    };
    // Parse everything first so that bad input leaves the store as it was.
    struct Pending {
        std::u16string path;
        std::vector<RegistryValue> values;
    };
    std::vector<Pending> keys;
    std::istringstream in(text);
    std::string line;
    size_t number = 0;
    // Key paths and value names must be valid UTF-8; a line that is not fails like any other.
    auto text16 = [&](const std::string &utf8, std::u16string *out) {
        try {
            *out = ToUtf16(utf8);
            return true;
        } catch (const std::invalid_argument &) {
            return false;
        }
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') {
                return fail(number, "key line without ']'");
            }
            Pending key;
            if (!text16(line.substr(1, line.size() - 2), &key.path)) {
                return fail(number, "key path is not UTF-8");
            }
            keys.push_back(std::move(key));
            continue;
        }
        if (keys.empty() || line[0] != '"') {
            return fail(number, "value outside a key, or name not quoted");
        }
        std::string name;
        size_t i = 1;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
            }
            name += line[i];
        }
        size_t colon = line.find(':', i);
        if (i >= line.size() || i + 1 >= line.size() || line[i + 1] != '=' || colon == std::string::npos) {
            return fail(number, "expected \"name\"=type:hex");
        }
        RegistryValue value;
        if (!text16(name, &value.name)) {
            return fail(number, "value name is not UTF-8");
        }
        try {
            value.type = static_cast<uint32_t>(std::stoul(line.substr(i + 2, colon - i - 2)));
        } catch (...) {
            return fail(number, "bad type");
        }
        if (!ParseHex(line.substr(colon + 1), &value.data)) {
            return fail(number, "bad hex data");
        }
        keys.back().values.push_back(std::move(value));
    }
    {
        std::lock_guard<std::mutex> held(mutex_);
        MarkDeleted(*machine_);
        MarkDeleted(*users_);
        machine_ = std::make_shared<RegistryKey>();
        machine_->name = u"Machine";
        users_ = std::make_shared<RegistryKey>();
        users_->name = u"User";
    }
    Root(Hive::CurrentUser);
    for (const Pending &key : keys) {
        std::vector<std::u16string_view> parts = Split(key.path);
        if (parts.size() < 2 || !EqualsNoCase(parts[0], u"Registry") ||
            !(EqualsNoCase(parts[1], u"Machine") || EqualsNoCase(parts[1], u"User"))) {
            return fail(0, "key outside \\Registry\\Machine and \\Registry\\User: " + ToUtf8(key.path));
        }
        std::u16string rest;
        for (size_t i = 2; i < parts.size(); ++i) {
            rest += parts[i];
            rest += u'\\';
        }
        RegistryKeyRef target = Create(Root(EqualsNoCase(parts[1], u"Machine") ? Hive::LocalMachine : Hive::Users), rest);
        for (const RegistryValue &value : key.values) {
            SetValue(target, value.name, value.type, value.data.data(), value.data.size());
        }
    }
    return true;
}

} // namespace tapkernel
