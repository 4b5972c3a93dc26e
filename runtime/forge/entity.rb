# ORB::Entity: process-wide entity ids, the constructors behind
# `args.state.new_entity` and `new_entity_strict`, and the conversion of
# loaded save data (plain Hashes and Arrays) back into entities.
module ORB
  class Entity
    @id = 0
    @strict_entities = {}
    @logged_once = {}

    LOAD_FAILURE = "* ERROR:\nFailed to load entity data from:\n".freeze

    class << self
      attr_reader :strict_entities

      def id!
        @id += 1
      end

      def __reset_id__!
        @id = 0
      end

      # Loaded entities keep their saved ids; later ids must not repeat them.
      def __id_at_least__!(id)
        @id = id if id.is_a?(Integer) && id > @id
        nil
      end

      def __log_once__(key, level, text)
        return nil if @logged_once[key]
        @logged_once[key] = true
        ORB::Log.write(nil, level, text)
      end

      def new_entity(entity_type, init_hash = nil, &block)
        entity = OpenEntity.new(entity_type)
        hash = entity.__hash__
        hash[:entity_type] = entity_type
        hash[:created_at] = Kernel.tick_count
        hash[:global_created_at] = Kernel.global_tick_count
        init_hash.each { |k, v| hash[k] = v } if init_hash
        block.call(entity) if block
        entity
      end

      def new_entity_strict(entity_type, init_hash = nil, &block)
        klass = @strict_entities[entity_type]
        unless klass
          prototype = new_entity(entity_type, init_hash, &block)
          keys = []
          init_hash.each_key { |k| keys << k.to_sym } if init_hash
          prototype.__hash__.each_key { |k| keys << k.to_sym }
          klass = StrictEntity.__define_for__(entity_type, keys.uniq)
          @strict_entities[entity_type] = klass
        end
        entity = klass.new
        entity.__init_strict__(entity_type, init_hash)
        block.call(entity) if block
        entity
      end

      # Save data back to live values: Hashes carrying an entity id become
      # entities (strict ones of their saved class name), Arrays and plain
      # Hashes are converted element by element, anything else is kept.
      def parse_serialization_data(value)
        if value.is_a?(Hash)
          return __hash_data__(value) unless value.key?(:entity_id)
          begin
            if value[:entity_strict]
              name = value[:entity_name]
              unless name.is_a?(Symbol) || name.is_a?(String)
                raise "a strict entity needs a Symbol or String entity_name, not #{name.inspect}"
              end
              entity = new_entity_strict(name, value)
            else
              entity = OpenEntity.new
            end
            load_entity_data!(entity, value)
          rescue Exception => e
            raise e if e.message.start_with?(LOAD_FAILURE)
            raise "#{LOAD_FAILURE}#+begin_src\n#{value}\n#+end_src\nThe save data looks to be corrupt.\n** INNER EXCEPTION:\n#{e.message}"
          end
        elsif value.is_a?(Array)
          value.map { |v| parse_serialization_data(v) }
        else
          value
        end
      end

      # Fills entity from saved pairs; properties that were saved as
      # references to another property's value become that value again.
      def load_entity_data!(entity, data)
        __entity_store__(entity, :entity_id, id!)
        data.each { |k, v| __entity_store__(entity, k, parse_serialization_data(v)) }
        __id_at_least__!(data[:entity_id])
        refs = data[:entity_keys_by_ref]
        if refs.is_a?(Hash)
          refs.each { |k, source| __entity_store__(entity, k, __entity_fetch__(entity, source)) }
        end
        entity
      end

      def __hash_data__(hash)
        result = {}
        hash.each { |k, v| result[k] = parse_serialization_data(v) }
        result
      end

      def __entity_store__(entity, key, value)
        if entity.is_a?(OpenEntity)
          entity.__hash__[key] = value
        else
          entity.instance_variable_set(StrictEntity.__ivar_name__(key), value)
        end
      end

      def __entity_fetch__(entity, key)
        if entity.is_a?(OpenEntity)
          entity.__hash__[key]
        else
          entity.instance_variable_get(StrictEntity.__ivar_name__(key))
        end
      end
    end
  end
end
