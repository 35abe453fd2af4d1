/* Permissions on Windows: owners and groups as SIDs, modes as an access
 * list, the access check of Authz.
 *
 * A mode entry becomes one access-allowed entry whose mask comes from the
 * table of perms_access_mask (the owner's mask also carries delete, read
 * control, write DAC and write owner); "other" is the everyone SID
 * (S-1-1-0). Reading permissions back asks Authz what the descriptor grants
 * the owner, the group and everyone (MAXIMUM_ALLOWED), and turns each
 * granted mask into a mode with perms_mode_from_access. Applying
 * permissions merges them into the file's current ones and writes a
 * protected access list (inheritance from the parent off), with the owner
 * and the group when perms names them.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <aclapi.h>
#include <authz.h>
#include <sddl.h>
#include <shlwapi.h>

#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

using m::detail::last_error;

namespace {

/* Room for names: account lookups (257 = UNLEN + 1) and domains (a NetBIOS
 * name and its terminator). */
constexpr DWORD kNameRoom   = 257;
constexpr DWORD kDomainRoom = 16;

/* The SID of an account name into sid (M_FS_SID_MAX bytes). Accounts that
 * are no user or group (deleted, invalid, unknown, a computer, a label) are
 * M_FS_ERROR_INVALID. */
M_fs_error_t lookup_account(const char *name, unsigned char *sid) noexcept
{
	DWORD        sid_len             = M_FS_SID_MAX;
	char         domain[kDomainRoom] = {};
	DWORD        domain_len          = sizeof(domain);
	SID_NAME_USE use;
	if (!LookupAccountNameA(nullptr, name, sid, &sid_len, domain, &domain_len, &use))
		return last_error();
	if (use >= SidTypeDeletedAccount && use <= SidTypeLabel)
		return M_FS_ERROR_INVALID;
	return M_FS_ERROR_SUCCESS;
}

/* Set (name looked up first; nothing changes when that fails) or clear
 * (name NULL or "") the owner or the group of perms. */
M_fs_error_t set_account(M_fs_perms_t *perms, const char *name, char *M_fs_perms_t::*name_field,
                         unsigned char (M_fs_perms_t::*sid_field)[M_FS_SID_MAX]) noexcept
{
	if (perms == nullptr)
		return M_FS_ERROR_INVALID;
	unsigned char sid[M_FS_SID_MAX] = {};
	char         *copy              = nullptr;
	if (!M_str_isempty(name)) {
		const M_fs_error_t res = lookup_account(name, sid);
		if (res != M_FS_ERROR_SUCCESS)
			return res;
		copy = M_strdup(name); /* before the release: name may be the current one */
	}
	M_free(perms->*name_field);
	perms->*name_field = copy;
	M_mem_copy(perms->*sid_field, sid, sizeof(sid));
	return M_FS_ERROR_SUCCESS;
}

/* The name of a SID (a new string) and its kind; NULL when it has none. */
char *sid_name(PSID sid, SID_NAME_USE *use) noexcept
{
	DWORD name_len   = 0;
	DWORD domain_len = 0;
	*use             = SidTypeUnknown;
	(void)LookupAccountSidA(nullptr, sid, nullptr, &name_len, nullptr, &domain_len, use);
	if (name_len == 0)
		return nullptr;
	char *name   = static_cast<char *>(M_malloc_zero(name_len + 1));
	char *domain = static_cast<char *>(M_malloc_zero(domain_len + 1));
	if (!LookupAccountSidA(nullptr, sid, name, &name_len, domain, &domain_len, use)) {
		M_free(name);
		name = nullptr;
	}
	M_free(domain);
	return name;
}

/* The rights a descriptor grants one SID, as a mode; none when the SID is
 * not valid or the check fails. */
uint32_t granted_mode(AUTHZ_RESOURCE_MANAGER_HANDLE rm, PSID sid, PSECURITY_DESCRIPTOR sd) noexcept
{
	if (rm == nullptr || sid == nullptr || !IsValidSid(sid))
		return 0;
	AUTHZ_CLIENT_CONTEXT_HANDLE ctx  = nullptr;
	const LUID                  none = {0, 0};
	if (!AuthzInitializeContextFromSid(0, sid, rm, nullptr, none, nullptr, &ctx))
		return 0;
	AUTHZ_ACCESS_REQUEST request = {};
	request.DesiredAccess        = MAXIMUM_ALLOWED;
	ACCESS_MASK        granted   = 0;
	DWORD              error     = 0;
	AUTHZ_ACCESS_REPLY reply     = {};
	reply.ResultListLength       = 1;
	reply.GrantedAccessMask      = &granted;
	reply.Error                  = &error;
	const bool ok = AuthzAccessCheck(0, ctx, &request, nullptr, sd, nullptr, 0, &reply, nullptr) && error == 0;
	AuthzFreeContext(ctx);
	return ok ? m::detail::perms_mode_from_access(granted) : 0;
}

/* Explicit-access entries of perms for a file or a directory, in the order
 * owner, group, everyone; the number of entries filled. */
ULONG dacl_entries(const M_fs_perms_t *perms, PSID everyone, bool is_dir, EXPLICIT_ACCESS_A *ea) noexcept
{
	const PSID sids[3] = {perms->user != nullptr ? PSID(const_cast<unsigned char *>(perms->user_sid)) : nullptr,
	                      perms->group != nullptr ? PSID(const_cast<unsigned char *>(perms->group_sid)) : nullptr,
	                      everyone};
	ULONG n = 0;
	for (int who = 0; who < 3; who++) {
		const M_fs_perms_entry *e = m::detail::perms_entry_for(perms, who, is_dir);
		if (sids[who] == nullptr || e == nullptr)
			continue;
		EXPLICIT_ACCESS_A &x   = ea[n++];
		x                      = {};
		x.grfAccessPermissions = m::detail::perms_access_mask(e->mode, who == M_FS_PERMS_WHO_USER);
		x.grfAccessMode        = SET_ACCESS;
		x.grfInheritance       = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
		x.Trustee.TrusteeForm  = TRUSTEE_IS_SID;
		x.Trustee.TrusteeType  = who == M_FS_PERMS_WHO_USER ? TRUSTEE_IS_USER : TRUSTEE_IS_GROUP;
		x.Trustee.ptstrName    = static_cast<LPSTR>(sids[who]);
	}
	return n;
}

/* The access list of perms (release with LocalFree). With no entry at all
 * it is an empty list, which grants nothing to anyone. */
M_fs_error_t perms_to_dacl(const M_fs_perms_t *perms, PSID everyone, bool is_dir, PACL *acl) noexcept
{
	*acl = nullptr;
	EXPLICIT_ACCESS_A ea[3];
	const ULONG       n = dacl_entries(perms, everyone, is_dir, ea);
	if (n > 0) {
		const DWORD err = SetEntriesInAclA(n, ea, nullptr, acl);
		return err == ERROR_SUCCESS ? M_FS_ERROR_SUCCESS : M_fs_error_from_syserr(err);
	}
	*acl = static_cast<PACL>(LocalAlloc(LPTR, sizeof(ACL)));
	if (*acl == nullptr || !InitializeAcl(*acl, sizeof(ACL), ACL_REVISION)) {
		const M_fs_error_t res = last_error();
		if (*acl != nullptr)
			LocalFree(*acl);
		*acl = nullptr;
		return res;
	}
	return M_FS_ERROR_SUCCESS;
}

/* The file's current permissions with perms merged in, written as a
 * protected access list (and owner and group where perms names them) by
 * write(security_info, owner, group, dacl). */
template <typename Write>
M_fs_error_t apply_perms(const M_fs_perms_t *perms, const M_fs_info_t *info, Write write) noexcept
{
	M_fs_perms_t *merged = M_fs_perms_dup(M_fs_info_get_perms(info));
	M_fs_perms_merge(&merged, M_fs_perms_dup(perms));
	PSID         everyone = m::detail::everyone_sid();
	PACL         acl      = nullptr;
	M_fs_error_t res      = perms_to_dacl(merged, everyone, M_fs_info_get_type(info) == M_FS_TYPE_DIR, &acl);
	if (res == M_FS_ERROR_SUCCESS) {
		SECURITY_INFORMATION what  = PROTECTED_DACL_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
		PSID                 owner = nullptr;
		PSID                 group = nullptr;
		if (perms->user != nullptr) {
			what |= OWNER_SECURITY_INFORMATION;
			owner = const_cast<unsigned char *>(perms->user_sid);
		}
		if (perms->group != nullptr) {
			what |= GROUP_SECURITY_INFORMATION;
			group = const_cast<unsigned char *>(perms->group_sid);
		}
		const DWORD err = write(what, owner, group, acl);
		res             = err == ERROR_SUCCESS ? M_FS_ERROR_SUCCESS : M_fs_error_from_syserr(err);
	}
	if (acl != nullptr)
		LocalFree(acl);
	if (everyone != nullptr)
		LocalFree(everyone);
	M_fs_perms_destroy(merged);
	return res;
}

} // namespace

namespace m::detail {

void *everyone_sid() noexcept
{
	PSID sid = nullptr;
	if (!ConvertStringSidToSidA("S-1-1-0", &sid))
		return nullptr;
	return sid;
}

M_fs_error_t perms_to_security_attributes(M_fs_perms_t *perms, void *everyone, void **acl, void *attributes,
                                          void *descriptor) noexcept
{
	if (perms == nullptr || acl == nullptr || attributes == nullptr || descriptor == nullptr)
		return M_FS_ERROR_INVALID;
	*acl = nullptr;
	if (perms->user == nullptr) {
		char  name[kNameRoom] = {};
		DWORD len             = sizeof(name);
		if (GetUserNameA(name, &len))
			(void)M_fs_perms_set_user(perms, name);
	}
	PACL         list = nullptr;
	M_fs_error_t res  = perms_to_dacl(perms, static_cast<PSID>(everyone), false, &list);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	auto *sd = static_cast<PSECURITY_DESCRIPTOR>(descriptor);
	if (!InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
	    !SetSecurityDescriptorDacl(sd, TRUE, list, FALSE) ||
	    (perms->user != nullptr && !SetSecurityDescriptorOwner(sd, perms->user_sid, FALSE)) ||
	    (perms->group != nullptr && !SetSecurityDescriptorGroup(sd, perms->group_sid, FALSE))) {
		res = last_error();
		LocalFree(list);
		return res;
	}
	auto *sa                 = static_cast<SECURITY_ATTRIBUTES *>(attributes);
	sa->nLength              = sizeof(*sa);
	sa->lpSecurityDescriptor = sd;
	sa->bInheritHandle       = FALSE;
	*acl                     = list;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t perms_from_descriptor(void *descriptor, M_fs_perms_t **out) noexcept
{
	*out            = nullptr;
	auto *sd        = static_cast<PSECURITY_DESCRIPTOR>(descriptor);
	PSID  owner     = nullptr;
	PSID  group     = nullptr;
	PACL  dacl      = nullptr;
	BOOL  defaulted = FALSE;
	BOOL  present   = FALSE;
	(void)GetSecurityDescriptorOwner(sd, &owner, &defaulted);
	(void)GetSecurityDescriptorGroup(sd, &group, &defaulted);
	(void)GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);

	SID_NAME_USE use  = SidTypeUnknown;
	char        *name = (owner != nullptr && IsValidSid(owner)) ? sid_name(owner, &use) : nullptr;
	if (name == nullptr || (use != SidTypeUser && use != SidTypeAlias && use != SidTypeDeletedAccount)) {
		M_free(name);
		return M_FS_ERROR_INVALID;
	}
	M_fs_perms_t *p = M_fs_perms_create();
	p->user         = name;
	(void)CopySid(sizeof(p->user_sid), p->user_sid, owner);
	if (group != nullptr && IsValidSid(group)) {
		char *gname = sid_name(group, &use);
		if (gname != nullptr && (use == SidTypeGroup || use == SidTypeWellKnownGroup)) {
			p->group = gname;
			(void)CopySid(sizeof(p->group_sid), p->group_sid, group);
		} else {
			M_free(gname);
		}
	}

	uint32_t modes[3] = {7, 7, 7}; /* no access list: everything to everyone */
	if (present && dacl != nullptr) {
		AUTHZ_RESOURCE_MANAGER_HANDLE rm = nullptr;
		if (!AuthzInitializeResourceManager(AUTHZ_RM_FLAG_NO_AUDIT, nullptr, nullptr, nullptr, nullptr, &rm))
			rm = nullptr;
		SID  empty    = {};
		PSID everyone = static_cast<PSID>(everyone_sid());
		modes[0]      = granted_mode(rm, owner, sd);
		modes[1]      = granted_mode(rm, p->group != nullptr ? group : PSID(&empty), sd);
		modes[2]      = granted_mode(rm, everyone, sd);
		if (everyone != nullptr)
			LocalFree(everyone);
		if (rm != nullptr)
			AuthzFreeResourceManager(rm);
	}
	for (int who = 0; who < 3; who++)
		M_fs_perms_set_mode(p, modes[who], static_cast<M_fs_perms_who_t>(who), M_FS_PERMS_TYPE_EXACT);
	*out = p;
	return M_FS_ERROR_SUCCESS;
}

} // namespace m::detail

extern "C" {

M_fs_error_t M_fs_perms_set_user(M_fs_perms_t *perms, const char *user)
{
	return set_account(perms, user, &M_fs_perms_t::user, &M_fs_perms_t::user_sid);
}

M_fs_error_t M_fs_perms_set_group(M_fs_perms_t *perms, const char *group)
{
	return set_account(perms, group, &M_fs_perms_t::group, &M_fs_perms_t::group_sid);
}

M_fs_error_t M_fs_perms_can_access(const char *path, uint32_t mode)
{
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	DWORD access = 0;
	if (mode & M_FS_PERMS_MODE_READ)
		access |= GENERIC_READ;
	if (mode & M_FS_PERMS_MODE_WRITE)
		access |= GENERIC_WRITE | DELETE;
	if (mode & M_FS_PERMS_MODE_EXEC)
		access |= GENERIC_EXECUTE;

	return m::detail::with_info_path(path, [&](const char *norm) {
		const m::detail::wide_path wide(norm);
		if (wide.p == nullptr)
			return M_FS_ERROR_INVALID;
		if (access == 0) {
			if (PathFileExistsW(wide.p))
				return M_FS_ERROR_SUCCESS;
			/* A failure the system left no reason for is still no file. */
			const M_fs_error_t res = last_error();
			return res == M_FS_ERROR_SUCCESS ? M_FS_ERROR_NOT_FOUND : res;
		}
		HANDLE h = CreateFileW(wide.p, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
		                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE)
			return last_error();
		CloseHandle(h);
		return M_FS_ERROR_SUCCESS;
	});
}

M_fs_error_t M_fs_perms_set_perms(const M_fs_perms_t *perms, const char *path)
{
	if (perms == nullptr || M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	return m::detail::with_info_path(path, [&](const char *norm) {
		M_fs_info_t *info = nullptr;
		M_fs_error_t res  = M_fs_info(&info, norm, M_FS_INFO_FLAG_NONE);
		if (res != M_FS_ERROR_SUCCESS)
			return res;
		const m::detail::wide_path wide(norm);
		res = wide.p == nullptr
		          ? M_FS_ERROR_INVALID
		          : apply_perms(perms, info, [&](SECURITY_INFORMATION what, PSID owner, PSID group, PACL acl) {
			            return SetNamedSecurityInfoW(wide.p, SE_FILE_OBJECT, what, owner, group, acl, nullptr);
		            });
		M_fs_info_destroy(info);
		return res;
	});
}

M_fs_error_t M_fs_perms_set_perms_file(const M_fs_perms_t *perms, M_fs_file_t *fd)
{
	if (perms == nullptr || fd == nullptr || fd->handle == INVALID_HANDLE_VALUE)
		return M_FS_ERROR_INVALID;
	M_fs_info_t *info = nullptr;
	M_fs_error_t res  = M_fs_info_file(&info, fd, M_FS_INFO_FLAG_NONE);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	res = apply_perms(perms, info, [&](SECURITY_INFORMATION what, PSID owner, PSID group, PACL acl) {
		DWORD err = SetSecurityInfo(fd->handle, SE_FILE_OBJECT, what, owner, group, acl, nullptr);
		/* A handle opened for reading or writing has no right to change the
		 * descriptor; the file it was opened by can be changed by name. */
		if (err == ERROR_ACCESS_DENIED && fd->path != nullptr) {
			const m::detail::wide_path wide(fd->path);
			err = wide.p == nullptr ? ERROR_INVALID_NAME
			                        : SetNamedSecurityInfoW(wide.p, SE_FILE_OBJECT, what, owner, group, acl, nullptr);
		}
		return err;
	});
	M_fs_info_destroy(info);
	return res;
}

} // extern "C"
