# ORB::Backup: archives of reloaded source files under "tmp/src_backup".
module ORB
  class Backup
    BACKUP_DIR = "tmp/src_backup".freeze

    def self.backup_create(_file, ffi_file:, production:)
      nil
    end

    def self.write_boot_time(runtime, unix_time)
      runtime.write_file_root("#{BACKUP_DIR}/boot.txt", unix_time.to_s)
    end
  end
end
