// Module-private: in-memory forms of the NFS version 4.0 and 4.1 COMPOUND procedure (RFC 7530
// and 7531, RFC 8881 and 5662) with the operations this client sends, and their XDR filter
// routines.
//
// Records follow the RFCs' names and member order. Unions are a discriminant followed by
// <type>_u holding the arms. Items with a small protocol or chosen bound (file handles, bitmaps,
// attribute values, security entries) are held in fixed storage, so that decoding them allocates
// nothing; names, link texts, owners of state, data and the operation arrays are
// { u_int <m>_len; char *<m>_val; } and allocated by the decoder, released by XDR_FREE.
//
// Bounds on what a decoder accepts, where the RFCs set none (each refused before any byte lands):
// - NFS4_MAX_OPS operations in a COMPOUND, NFS4_BITMAP_MAX_WORDS words in a bitmap,
// - NFS4_OWNER_MAX bytes of an owner or owner_group attribute, NFS4_ATTRS_MAX bytes of the
//   values of one fattr4, NFS4_NAME_MAX bytes of a name and NFS4_LINK_MAX of a link text,
//   NFS4_OPAQUE_LIMIT bytes of a tag, owner of state, identifier, address or domain,
// - NFS4_MAXDATA_DECODED bytes of READ data without a caller's buffer, NFS4_SECINFO_MAX
//   security entries of NFS4_OID_MAX bytes of object identifier each,
// - NFS4_READDIR_MAX_ENTRIES entries in one READDIR reply (each holds a whole fattr4: ask
//   for a maxcount of at most 128 KiB, 32 bytes per entry at the least).
// A decoded fattr4 must carry only the attributes in Nfs4KnownAttrs: its values are an opaque
// whose layout the bitmap gives, so an unknown bit leaves the rest unreadable and is refused.
#ifndef NFS_XDR_NFS4XDR_H
#define NFS_XDR_NFS4XDR_H

#include "nfs4Status.h"

#include <rpc/rpc.h>

#include <cstdint>

#define NFS4_PROGRAM 100003
#define NFS_V4 4
#define NFSPROC4_NULL 0
#define NFSPROC4_COMPOUND 1

#define NFS4_FHSIZE 128
#define NFS4_VERIFIER_SIZE 8
#define NFS4_OTHER_SIZE 12
#define NFS4_SESSIONID_SIZE 16
#define NFS4_OPAQUE_LIMIT 1024

#define NFS4_MAX_OPS 32
#define NFS4_BITMAP_WORDS 3
#define NFS4_BITMAP_MAX_WORDS 8
#define NFS4_OWNER_MAX 256
#define NFS4_ATTRS_MAX 4096
#define NFS4_MAXDATA_DECODED (1024 * 1024)
#define NFS4_SECINFO_MAX 16
#define NFS4_READDIR_MAX_ENTRIES 4096
#define NFS4_OID_MAX 64
#define NFS4_NAME_MAX 255
#define NFS4_LINK_MAX 1024

#define ACCESS4_READ 0x00000001
#define ACCESS4_LOOKUP 0x00000002
#define ACCESS4_MODIFY 0x00000004
#define ACCESS4_EXTEND 0x00000008
#define ACCESS4_DELETE 0x00000010
#define ACCESS4_EXECUTE 0x00000020

#define OPEN4_SHARE_ACCESS_READ 0x00000001
#define OPEN4_SHARE_ACCESS_WRITE 0x00000002
#define OPEN4_SHARE_ACCESS_BOTH 0x00000003
#define OPEN4_SHARE_ACCESS_WANT_NO_DELEG 0x00000400
#define OPEN4_SHARE_DENY_NONE 0x00000000
#define OPEN4_RESULT_CONFIRM 0x00000002
#define OPEN4_RESULT_LOCKTYPE_POSIX 0x00000004

#define EXCHGID4_FLAG_USE_NON_PNFS 0x00010000
#define EXCHGID4_FLAG_CONFIRMED_R 0x80000000
#define CREATE_SESSION4_FLAG_PERSIST 0x00000001
#define CREATE_SESSION4_FLAG_CONN_BACK_CHAN 0x00000002

// Attribute numbers (RFC 8881 section 5.6 and 5.7; the same in RFC 7530).
enum Nfs4Attr : u_int {
    FATTR4_SUPPORTED_ATTRS = 0,
    FATTR4_TYPE = 1,
    FATTR4_CHANGE = 3,
    FATTR4_SIZE = 4,
    FATTR4_FSID = 8,
    FATTR4_LEASE_TIME = 10,
    FATTR4_RDATTR_ERROR = 11,
    FATTR4_CHOWN_RESTRICTED = 18,
    FATTR4_FILEHANDLE = 19,
    FATTR4_FILEID = 20,
    FATTR4_FILES_AVAIL = 21,
    FATTR4_FILES_FREE = 22,
    FATTR4_FILES_TOTAL = 23,
    FATTR4_MAXLINK = 28,
    FATTR4_MAXNAME = 29,
    FATTR4_MAXREAD = 30,
    FATTR4_MAXWRITE = 31,
    FATTR4_MODE = 33,
    FATTR4_NO_TRUNC = 34,
    FATTR4_NUMLINKS = 35,
    FATTR4_OWNER = 36,
    FATTR4_OWNER_GROUP = 37,
    FATTR4_SPACE_AVAIL = 42,
    FATTR4_SPACE_FREE = 43,
    FATTR4_SPACE_TOTAL = 44,
    FATTR4_SPACE_USED = 45,
    FATTR4_TIME_ACCESS = 47,
    FATTR4_TIME_ACCESS_SET = 48,
    FATTR4_TIME_METADATA = 52,
    FATTR4_TIME_MODIFY = 53,
    FATTR4_TIME_MODIFY_SET = 54,
};

enum nfs_opnum4 : int32_t {
    OP_ACCESS = 3,
    OP_CLOSE = 4,
    OP_COMMIT = 5,
    OP_CREATE = 6,
    OP_GETATTR = 9,
    OP_GETFH = 10,
    OP_LINK = 11,
    OP_LOCK = 12,
    OP_LOCKT = 13,
    OP_LOCKU = 14,
    OP_LOOKUP = 15,
    OP_LOOKUPP = 16,
    OP_OPEN = 18,
    OP_OPEN_CONFIRM = 20,
    OP_PUTFH = 22,
    OP_PUTROOTFH = 24,
    OP_READ = 25,
    OP_READDIR = 26,
    OP_READLINK = 27,
    OP_REMOVE = 28,
    OP_RENAME = 29,
    OP_RENEW = 30,
    OP_RESTOREFH = 31,
    OP_SAVEFH = 32,
    OP_SETATTR = 34,
    OP_SETCLIENTID = 35,
    OP_SETCLIENTID_CONFIRM = 36,
    OP_WRITE = 38,
    OP_RELEASE_LOCKOWNER = 39,
    OP_BIND_CONN_TO_SESSION = 41,
    OP_EXCHANGE_ID = 42,
    OP_CREATE_SESSION = 43,
    OP_DESTROY_SESSION = 44,
    OP_SECINFO_NO_NAME = 52,
    OP_SEQUENCE = 53,
    OP_DESTROY_CLIENTID = 57,
    OP_RECLAIM_COMPLETE = 58,
    OP_ILLEGAL = 10044
};

enum nfs_ftype4 : int32_t {
    NF4REG = 1,
    NF4DIR = 2,
    NF4BLK = 3,
    NF4CHR = 4,
    NF4LNK = 5,
    NF4SOCK = 6,
    NF4FIFO = 7,
    NF4ATTRDIR = 8,
    NF4NAMEDATTR = 9
};
enum time_how4 : int32_t { SET_TO_SERVER_TIME4 = 0, SET_TO_CLIENT_TIME4 = 1 };
enum stable_how4 : int32_t { UNSTABLE4 = 0, DATA_SYNC4 = 1, FILE_SYNC4 = 2 };
enum createmode4 : int32_t { UNCHECKED4 = 0, GUARDED4 = 1, EXCLUSIVE4 = 2, EXCLUSIVE4_1 = 3 };
enum opentype4 : int32_t { OPEN4_NOCREATE = 0, OPEN4_CREATE = 1 };
enum open_claim_type4 : int32_t { CLAIM_NULL = 0, CLAIM_PREVIOUS = 1, CLAIM_FH = 4 };
enum open_delegation_type4 : int32_t {
    OPEN_DELEGATE_NONE = 0,
    OPEN_DELEGATE_READ = 1,
    OPEN_DELEGATE_WRITE = 2,
    OPEN_DELEGATE_NONE_EXT = 3
};
enum limit_by4 : int32_t { NFS_LIMIT_SIZE = 1, NFS_LIMIT_BLOCKS = 2 };
enum why_no_delegation4 : int32_t {
    WND4_NOT_WANTED = 0,
    WND4_CONTENTION = 1,
    WND4_RESOURCE = 2,
    WND4_CANCELLED = 7
};
enum nfs_lock_type4 : int32_t { READ_LT = 1, WRITE_LT = 2, READW_LT = 3, WRITEW_LT = 4 };
enum state_protect_how4 : int32_t { SP4_NONE = 0, SP4_MACH_CRED = 1, SP4_SSV = 2 };
enum channel_dir_from_client4 : int32_t {
    CDFC4_FORE = 1,
    CDFC4_BACK = 2,
    CDFC4_FORE_OR_BOTH = 3,
    CDFC4_BACK_OR_BOTH = 7
};
enum channel_dir_from_server4 : int32_t { CDFS4_FORE = 1, CDFS4_BACK = 2, CDFS4_BOTH = 3 };
enum secinfo_style4 : int32_t { SECINFO_STYLE4_CURRENT_FH = 0, SECINFO_STYLE4_PARENT = 1 };
enum rpc_gss_svc_t : int32_t { RPC_GSS_SVC_NONE = 1, RPC_GSS_SVC_INTEGRITY = 2, RPC_GSS_SVC_PRIVACY = 3 };

typedef char verifier4[NFS4_VERIFIER_SIZE];
typedef char sessionid4[NFS4_SESSIONID_SIZE];
typedef uint64_t clientid4;

// A counted byte string allocated by the decoder: component4, linktext4, utf8str_cs, opaque<>.
struct Nfs4Bytes {
    u_int len;
    char *val;
};

// bitmap4: the first NFS4_BITMAP_WORDS words, enough for every attribute this client knows.
// Decoding accepts up to NFS4_BITMAP_MAX_WORDS words; beyond is set when a word past the kept
// ones has a bit. Encoding writes the words up to the last that is not zero.
struct bitmap4 {
    uint32_t words[NFS4_BITMAP_WORDS];
    bool_t beyond;
    u_int wireWords; // words on the wire: as decoded, or as the last encode wrote
};

struct stateid4 {
    uint32_t seqid;
    char other[NFS4_OTHER_SIZE];
};

struct nfs_fh4 {
    u_int len;
    char val[NFS4_FHSIZE];
};

struct nfstime4 {
    int64_t seconds;
    uint32_t nseconds;
};

struct settime4 {
    time_how4 set_it;
    nfstime4 time;
};

struct fsid4 {
    uint64_t major;
    uint64_t minor;
};

struct Nfs4Owner {
    u_int len;
    char val[NFS4_OWNER_MAX];
};

// fattr4 { bitmap4 attrmask; attrlist4 attr_vals; } as a plain record: attrmask says which
// members are present; the values travel in attribute-number order.
struct fattr4 {
    bitmap4 attrmask;
    bitmap4 supported_attrs;
    nfs_ftype4 type;
    uint64_t change;
    uint64_t size;
    fsid4 fsid;
    uint32_t lease_time;
    nfsstat4 rdattr_error;
    bool_t chown_restricted;
    nfs_fh4 filehandle;
    uint64_t fileid;
    uint64_t files_avail;
    uint64_t files_free;
    uint64_t files_total;
    uint32_t maxlink;
    uint32_t maxname;
    uint64_t maxread;
    uint64_t maxwrite;
    uint32_t mode;
    bool_t no_trunc;
    uint32_t numlinks;
    Nfs4Owner owner;
    Nfs4Owner owner_group;
    uint64_t space_avail;
    uint64_t space_free;
    uint64_t space_total;
    uint64_t space_used;
    nfstime4 time_access;
    settime4 time_access_set;
    nfstime4 time_metadata;
    nfstime4 time_modify;
    settime4 time_modify_set;
};

struct change_info4 {
    bool_t atomic;
    uint64_t before;
    uint64_t after;
};

// state_owner4 { clientid4 clientid; opaque owner<NFS4_OPAQUE_LIMIT>; }: open_owner4, lock_owner4.
struct state_owner4 {
    clientid4 clientid;
    Nfs4Bytes owner;
};

struct nfs_impl_id4 {
    Nfs4Bytes nii_domain;
    Nfs4Bytes nii_name;
    nfstime4 nii_date;
};

// nfs_impl_id4 <1>
struct Nfs4ImplId {
    u_int len;
    nfs_impl_id4 val[1];
};

struct state_protect_ops4 {
    bitmap4 spo_must_enforce;
    bitmap4 spo_must_allow;
};

// state_protect4_a and state_protect4_r without their SP4_SSV arms: this client asks for
// SP4_NONE, and an SSV reply is refused.
struct state_protect4 {
    state_protect_how4 how;
    state_protect_ops4 mach_ops;
};

struct channel_attrs4 {
    uint32_t ca_headerpadsize;
    uint32_t ca_maxrequestsize;
    uint32_t ca_maxresponsesize;
    uint32_t ca_maxresponsesize_cached;
    uint32_t ca_maxoperations;
    uint32_t ca_maxrequests;
    u_int ca_rdma_ird_len; // 0 or 1
    uint32_t ca_rdma_ird;
};

struct netaddr4 {
    Nfs4Bytes na_r_netid;
    Nfs4Bytes na_r_addr;
};

struct secinfo4 {
    uint32_t flavor;
    struct {
        u_int oid_len;
        char oid[NFS4_OID_MAX];
        uint32_t qop;
        rpc_gss_svc_t service;
    } flavor_info; // RPCSEC_GSS only
};

// Arguments ---------------------------------------------------------------------------------

struct SEQUENCE4args {
    sessionid4 sa_sessionid;
    uint32_t sa_sequenceid;
    uint32_t sa_slotid;
    uint32_t sa_highest_slotid;
    bool_t sa_cachethis;
};

struct createhow4 {
    createmode4 mode;
    union {
        fattr4 createattrs;   // UNCHECKED4, GUARDED4
        verifier4 createverf; // EXCLUSIVE4
        struct {
            verifier4 cva_verf;
            fattr4 cva_attrs;
        } ch_createboth; // EXCLUSIVE4_1
    } createhow4_u;
};

struct openflag4 {
    opentype4 opentype;
    createhow4 how; // OPEN4_CREATE
};

// open_claim4 with the arms this client uses: CLAIM_NULL, CLAIM_PREVIOUS, CLAIM_FH.
struct open_claim4 {
    open_claim_type4 claim;
    union {
        Nfs4Bytes file;                      // CLAIM_NULL
        open_delegation_type4 delegate_type; // CLAIM_PREVIOUS
    } open_claim4_u;
};

struct OPEN4args {
    uint32_t seqid;
    uint32_t share_access;
    uint32_t share_deny;
    state_owner4 owner;
    openflag4 openhow;
    open_claim4 claim;
};

struct createtype4 {
    nfs_ftype4 type;
    union {
        Nfs4Bytes linkdata; // NF4LNK
        struct {
            uint32_t specdata1;
            uint32_t specdata2;
        } devdata; // NF4BLK, NF4CHR
    } createtype4_u;
};

struct CREATE4args {
    createtype4 objtype;
    Nfs4Bytes objname;
    fattr4 createattrs;
};

struct open_to_lock_owner4 {
    uint32_t open_seqid;
    stateid4 open_stateid;
    uint32_t lock_seqid;
    state_owner4 lock_owner;
};

struct exist_lock_owner4 {
    stateid4 lock_stateid;
    uint32_t lock_seqid;
};

struct locker4 {
    bool_t new_lock_owner;
    union {
        open_to_lock_owner4 open_owner; // TRUE
        exist_lock_owner4 lock_owner;   // FALSE
    } locker4_u;
};

struct LOCK4args {
    nfs_lock_type4 locktype;
    bool_t reclaim;
    uint64_t offset;
    uint64_t length;
    locker4 locker;
};

struct LOCKT4args {
    nfs_lock_type4 locktype;
    uint64_t offset;
    uint64_t length;
    state_owner4 owner;
};

struct LOCKU4args {
    nfs_lock_type4 locktype;
    uint32_t seqid;
    stateid4 lock_stateid;
    uint64_t offset;
    uint64_t length;
};

struct READDIR4args {
    uint64_t cookie;
    verifier4 cookieverf;
    uint32_t dircount;
    uint32_t maxcount;
    bitmap4 attr_request;
};

struct WRITE4args {
    stateid4 stateid;
    uint64_t offset;
    stable_how4 stable;
    Nfs4Bytes data;
};

struct SETCLIENTID4args {
    verifier4 verifier; // nfs_client_id4
    Nfs4Bytes id;
    uint32_t cb_program; // cb_client4
    netaddr4 cb_location;
    uint32_t callback_ident;
};

struct EXCHANGE_ID4args {
    verifier4 co_verifier; // client_owner4
    Nfs4Bytes co_ownerid;
    uint32_t eia_flags;
    state_protect4 eia_state_protect;
    Nfs4ImplId eia_client_impl_id;
};

// CREATE_SESSION4args with csa_sec_parms limited to one entry of AUTH_NONE or none at all: this
// client asks for no back channel.
struct CREATE_SESSION4args {
    clientid4 csa_clientid;
    uint32_t csa_sequence;
    uint32_t csa_flags;
    channel_attrs4 csa_fore_chan_attrs;
    channel_attrs4 csa_back_chan_attrs;
    uint32_t csa_cb_program;
    u_int csa_sec_parms_len; // 0 or 1, AUTH_NONE
};

struct BIND_CONN_TO_SESSION4args {
    sessionid4 bctsa_sessid;
    channel_dir_from_client4 bctsa_dir;
    bool_t bctsa_use_conn_in_rdma_mode;
};

struct nfs_argop4 {
    nfs_opnum4 argop;
    union {
        SEQUENCE4args opsequence;
        nfs_fh4 opputfh;
        Nfs4Bytes oplookup; // objname
        bitmap4 opgetattr;  // attr_request
        struct {
            stateid4 stateid;
            fattr4 obj_attributes;
        } opsetattr;
        uint32_t opaccess;
        OPEN4args opopen;
        struct {
            stateid4 open_stateid;
            uint32_t seqid;
        } opopen_confirm;
        struct {
            uint32_t seqid;
            stateid4 open_stateid;
        } opclose;
        struct {
            stateid4 stateid;
            uint64_t offset;
            uint32_t count;
        } opread;
        WRITE4args opwrite;
        struct {
            uint64_t offset;
            uint32_t count;
        } opcommit;
        READDIR4args opreaddir;
        Nfs4Bytes opremove; // target
        struct {
            Nfs4Bytes oldname;
            Nfs4Bytes newname;
        } oprename;
        Nfs4Bytes oplink; // newname
        CREATE4args opcreate;
        EXCHANGE_ID4args opexchange_id;
        CREATE_SESSION4args opcreate_session;
        sessionid4 opdestroy_session;
        clientid4 opdestroy_clientid; // also RENEW
        bool_t opreclaim_complete;    // rca_one_fs
        BIND_CONN_TO_SESSION4args opbind_conn_to_session;
        secinfo_style4 opsecinfo_no_name;
        SETCLIENTID4args opsetclientid;
        struct {
            clientid4 clientid;
            verifier4 setclientid_confirm;
        } opsetclientid_confirm;
        LOCK4args oplock;
        LOCKT4args oplockt;
        LOCKU4args oplocku;
        state_owner4 oprelease_lockowner;
    } nfs_argop4_u;
};

struct COMPOUND4args {
    Nfs4Bytes tag;
    uint32_t minorversion;
    struct {
        u_int argarray_len;
        nfs_argop4 *argarray_val;
    } argarray;
};

// Results -----------------------------------------------------------------------------------

struct SEQUENCE4resok {
    sessionid4 sr_sessionid;
    uint32_t sr_sequenceid;
    uint32_t sr_slotid;
    uint32_t sr_highest_slotid;
    uint32_t sr_target_highest_slotid;
    uint32_t sr_status_flags;
};

struct nfsace4 {
    uint32_t type;
    uint32_t flag;
    uint32_t access_mask;
    Nfs4Bytes who;
};

// open_delegation4: decoded in full, though this client asks for no delegation.
struct open_delegation4 {
    open_delegation_type4 delegation_type;
    stateid4 stateid;    // READ, WRITE
    bool_t recall;       // READ, WRITE
    limit_by4 limitby;   // WRITE: nfs_space_limit4
    uint64_t filesize;   //   NFS_LIMIT_SIZE
    uint32_t num_blocks; //   NFS_LIMIT_BLOCKS
    uint32_t bytes_per_block;
    nfsace4 permissions;        // READ, WRITE
    why_no_delegation4 ond_why; // NONE_EXT
    bool_t ond_server_will;     //   WND4_CONTENTION push, WND4_RESOURCE signal
};

struct OPEN4resok {
    stateid4 stateid;
    change_info4 cinfo;
    uint32_t rflags;
    bitmap4 attrset;
    open_delegation4 delegation;
};

// Data of a READ reply. With callerBuffer set before decoding, data.val is the caller's buffer
// of data.len bytes: a longer reply is refused before a byte lands, and the free pass leaves
// the buffer alone. Otherwise the decoder allocates at most NFS4_MAXDATA_DECODED bytes.
struct READ4resok {
    bool_t eof;
    Nfs4Bytes data;
    bool_t callerBuffer;
};

struct WRITE4resok {
    uint32_t count;
    stable_how4 committed;
    verifier4 writeverf;
};

struct entry4 {
    uint64_t cookie;
    Nfs4Bytes name;
    fattr4 attrs;
    entry4 *nextentry;
};

struct READDIR4resok {
    verifier4 cookieverf;
    entry4 *entries;
    bool_t eof;
};

struct LOCK4denied {
    uint64_t offset;
    uint64_t length;
    nfs_lock_type4 locktype;
    state_owner4 owner;
};

struct EXCHANGE_ID4resok {
    clientid4 eir_clientid;
    uint32_t eir_sequenceid;
    uint32_t eir_flags;
    state_protect4 eir_state_protect;
    uint64_t so_minor_id; // server_owner4
    Nfs4Bytes so_major_id;
    Nfs4Bytes eir_server_scope;
    Nfs4ImplId eir_server_impl_id;
};

struct CREATE_SESSION4resok {
    sessionid4 csr_sessionid;
    uint32_t csr_sequence;
    uint32_t csr_flags;
    channel_attrs4 csr_fore_chan_attrs;
    channel_attrs4 csr_back_chan_attrs;
};

struct BIND_CONN_TO_SESSION4resok {
    sessionid4 bctsr_sessid;
    channel_dir_from_server4 bctsr_dir;
    bool_t bctsr_use_conn_in_rdma_mode;
};

struct SECINFO4resok {
    u_int len;
    secinfo4 val[NFS4_SECINFO_MAX];
};

// Each result is its status and the arm that status selects; SETATTR's attrsset follows every
// status, a denied LOCK or LOCKT carries the conflicting lock, a SETCLIENTID refused with
// NFS4ERR_CLID_INUSE the address of the client using the id.
struct nfs_resop4 {
    nfs_opnum4 resop;
    nfsstat4 status;
    union {
        SEQUENCE4resok opsequence;
        nfs_fh4 opgetfh;
        fattr4 opgetattr;
        bitmap4 opsetattr; // attrsset
        struct {
            uint32_t supported;
            uint32_t access;
        } opaccess;
        OPEN4resok opopen;
        stateid4 opstateid; // OPEN_CONFIRM, CLOSE, LOCK, LOCKU
        READ4resok opread;
        WRITE4resok opwrite;
        verifier4 opcommit; // writeverf
        READDIR4resok opreaddir;
        Nfs4Bytes opreadlink; // link
        change_info4 opcinfo; // REMOVE, LINK
        struct {
            change_info4 source_cinfo;
            change_info4 target_cinfo;
        } oprename;
        struct {
            change_info4 cinfo;
            bitmap4 attrset;
        } opcreate;
        EXCHANGE_ID4resok opexchange_id;
        CREATE_SESSION4resok opcreate_session;
        BIND_CONN_TO_SESSION4resok opbind_conn_to_session;
        SECINFO4resok opsecinfo_no_name;
        struct {
            clientid4 clientid;
            verifier4 setclientid_confirm;
        } opsetclientid;
        netaddr4 opclient_using; // SETCLIENTID, NFS4ERR_CLID_INUSE
        LOCK4denied opdenied;    // LOCK, LOCKT, NFS4ERR_DENIED
    } nfs_resop4_u;
};

// With readBuffer set before decoding, the data of a READ result lands in it (readCapacity
// bytes at most), as READ4resok describes; a compound then carries one READ.
struct COMPOUND4res {
    nfsstat4 status;
    Nfs4Bytes tag;
    struct {
        u_int resarray_len;
        nfs_resop4 *resarray_val;
    } resarray;
    char *readBuffer;
    u_int readCapacity;
};

// Routines ------------------------------------------------------------------------------------

bool_t xdr_nfsstat4(XDR *xdrs, nfsstat4 *objp);
bool_t xdr_bitmap4(XDR *xdrs, bitmap4 *objp);
bool_t xdr_stateid4(XDR *xdrs, stateid4 *objp);
bool_t xdr_nfs_fh4(XDR *xdrs, nfs_fh4 *objp);
bool_t xdr_nfstime4(XDR *xdrs, nfstime4 *objp);
bool_t xdr_settime4(XDR *xdrs, settime4 *objp);
bool_t xdr_change_info4(XDR *xdrs, change_info4 *objp);
bool_t xdr_state_owner4(XDR *xdrs, state_owner4 *objp);
bool_t xdr_component4(XDR *xdrs, Nfs4Bytes *objp);
bool_t xdr_linktext4(XDR *xdrs, Nfs4Bytes *objp);
bool_t xdr_opaque_limit4(XDR *xdrs, Nfs4Bytes *objp);
bool_t xdr_netaddr4(XDR *xdrs, netaddr4 *objp);
bool_t xdr_nfs_impl_id4(XDR *xdrs, Nfs4ImplId *objp);
bool_t xdr_state_protect4(XDR *xdrs, state_protect4 *objp);
bool_t xdr_channel_attrs4(XDR *xdrs, channel_attrs4 *objp);
bool_t xdr_fattr4(XDR *xdrs, fattr4 *objp);
bool_t xdr_createhow4(XDR *xdrs, createhow4 *objp);
bool_t xdr_openflag4(XDR *xdrs, openflag4 *objp);
bool_t xdr_open_claim4(XDR *xdrs, open_claim4 *objp);
bool_t xdr_OPEN4args(XDR *xdrs, OPEN4args *objp);
bool_t xdr_createtype4(XDR *xdrs, createtype4 *objp);
bool_t xdr_CREATE4args(XDR *xdrs, CREATE4args *objp);
bool_t xdr_locker4(XDR *xdrs, locker4 *objp);
bool_t xdr_LOCK4args(XDR *xdrs, LOCK4args *objp);
bool_t xdr_LOCKT4args(XDR *xdrs, LOCKT4args *objp);
bool_t xdr_LOCKU4args(XDR *xdrs, LOCKU4args *objp);
bool_t xdr_READDIR4args(XDR *xdrs, READDIR4args *objp);
bool_t xdr_WRITE4args(XDR *xdrs, WRITE4args *objp);
bool_t xdr_SETCLIENTID4args(XDR *xdrs, SETCLIENTID4args *objp);
bool_t xdr_EXCHANGE_ID4args(XDR *xdrs, EXCHANGE_ID4args *objp);
bool_t xdr_CREATE_SESSION4args(XDR *xdrs, CREATE_SESSION4args *objp);
bool_t xdr_nfs_argop4(XDR *xdrs, nfs_argop4 *objp);
bool_t xdr_COMPOUND4args(XDR *xdrs, COMPOUND4args *objp);

bool_t xdr_open_delegation4(XDR *xdrs, open_delegation4 *objp);
bool_t xdr_OPEN4resok(XDR *xdrs, OPEN4resok *objp);
bool_t xdr_READ4resok(XDR *xdrs, READ4resok *objp);
bool_t xdr_READDIR4resok(XDR *xdrs, READDIR4resok *objp);
bool_t xdr_LOCK4denied(XDR *xdrs, LOCK4denied *objp);
bool_t xdr_EXCHANGE_ID4resok(XDR *xdrs, EXCHANGE_ID4resok *objp);
bool_t xdr_CREATE_SESSION4resok(XDR *xdrs, CREATE_SESSION4resok *objp);
bool_t xdr_SECINFO4resok(XDR *xdrs, SECINFO4resok *objp);
bool_t xdr_nfs_resop4(XDR *xdrs, nfs_resop4 *objp);
bool_t xdr_COMPOUND4res(XDR *xdrs, COMPOUND4res *objp);

// Bitmap helpers: set a bit, test a bit (false past the kept words).
void nfs4BitmapSet(bitmap4 *bitmap, u_int bit);
bool nfs4BitmapHas(const bitmap4 &bitmap, u_int bit);

// How a decoded COMPOUND4res answers the request it was sent for.
enum class Nfs4CompoundCheck {
    Complete,       // every operation answered, all NFS4_OK, overall NFS4_OK
    EndedEarly,     // answered up to the first failing operation, as RFC 8881 section 15.2 has it
    TooManyResults, // more results than operations sent
    OpMismatch,     // a result for another operation than the one sent at its place
    StatusMismatch, // an earlier result failed, the last one's status is not the overall one,
                    // or the compound says it failed with every operation answered NFS4_OK
};

// Checks the reply against the request; anything but Complete or EndedEarly is a malformed
// reply to refuse. A reply with no result at all (e.g. NFS4ERR_MINOR_VERS_MISMATCH) ended early
// when its status is an error.
Nfs4CompoundCheck nfs4CheckCompound(const COMPOUND4args &args, const COMPOUND4res &res);

#endif
